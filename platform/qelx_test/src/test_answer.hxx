#pragma once
// One call of a test exporter: the model's forced answer when it has one
// (outputs written or not, as forced), else what `write` answers; logged.
#include "qelx/test_exporters.hxx"

namespace qelx_test {

void logCall(TestCallLog& log, const char* operation, std::uint64_t word, QELIResult result);

template <class Write>
QELIResult answerCall(const TestModel& model, TestCallLog& log, const char* operation, std::uint64_t word,
                      Write&& write)
{
    QELIResult result;
    if (const TestOverride* forced = model.overrideFor(operation, word)) {
        result = forced->result;
        if (!forced->leaveUnwritten)
            write();
    } else {
        result = write();
    }
    logCall(log, operation, word, result);
    return result;
}

} // namespace qelx_test
