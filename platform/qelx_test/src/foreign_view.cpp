#include "qelx/foreign_view.hxx"

namespace {

// A document of another system with the unit of the exporter's own.
QELXDocument* foreignDocumentOf(QELXBRepExporter* inner)
{
    auto* document = new QELXDocument();
    document->SetXType(QELXString(qelx_test::ForeignView::ForeignXType));
    QELXUnit unit = QELX_UNIT_UNSPECIFIED;
    if (inner && inner->GetDocument() && inner->GetDocument()->GetUnit(unit) == QELI_OK)
        document->SetUnit(unit);
    return document;
}

} // namespace

namespace qelx_test {

ForeignView::ForeignView(QELXBRepExporter* inner)
    : QELXDefaultBRepExporter(foreignDocumentOf(inner)), m_document(GetDocument()), m_inner(inner)
{
    m_inner->RaiseReference();
}

ForeignView::~ForeignView() { m_inner->LowerReference(); }

} // namespace qelx_test
