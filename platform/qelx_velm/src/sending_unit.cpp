#include "qelx_velm/sending_unit.hxx"

#include "qelx/qelx_document.hxx"

QELIResult get_sending_system_unit(QELXUnit& unit)
{
    const QELXConverter* context = QELXConverter::GetCurrentContext();
    const QELXDocument* input = context ? context->GetInputDocument() : nullptr;
    return input ? input->GetUnit(unit) : QELIResult(QELI_FAIL);
}

QELIResult GetUnitScaleFactor(QELXUnit unit, double& factor)
{
    const double mm = Gk_Unit(unit).value();
    if (!(mm > 0.0))
        return QELI_FAIL;
    factor = mm;
    return QELI_OK;
}
