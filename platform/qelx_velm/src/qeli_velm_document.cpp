#include "qelx_velm/qeli_velm_document.hxx"

#include "qelx_velm/velm_document.hxx"

QELIVelmDocument::QELIVelmDocument() { m_document = new QELXVelmDocument(); }

QELIVelmDocument::QELIVelmDocument(ENTITY_LIST& entities) : QELIVelmDocument()
{
    static_cast<QELXVelmDocument*>(m_document.get())->AppendNativeEntityList(entities);
}
