// Neutral document files: read whole, refuse with a named fault, write to a
// temporary name and rename only when everything was written.
#include "qelx_formats/neutral_document.hxx"

#include "qelx/framework_walk.hxx"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace qelx_formats {

QELIResult readNeutralDocument(const std::string& path, qelx_test::TestModel& model, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened";
        return QELI_FILE_NOT_OPENED;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": read failed";
        return QELI_FAIL;
    }
    try {
        model = readNeutralText(text.str(), path);
    } catch (const NeutralDocumentError& e) {
        error = e.what();
        return QELI_FAIL;
    } catch (const std::exception& e) {
        // Anything the checks did not foresee is still a refusal, not a crash.
        error = path + ": " + e.what();
        return QELI_FAIL;
    }
    return QELI_OK;
}

namespace {
QELIResult writeText(const std::string& text, const std::string& path, std::string& error)
{
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = path + ": cannot be written";
            return QELI_FILE_NOT_SAVED;
        }
        out << text;
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            error = path + ": write failed";
            return QELI_FILE_NOT_SAVED;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = path + ": cannot be replaced";
        return QELI_FILE_NOT_SAVED;
    }
    return QELI_OK;
}
} // namespace

QELIResult writeNeutralDocument(const qelx_test::TestModel& model, const std::string& path, std::string& error)
{
    std::string text;
    try {
        text = writeNeutralText(model);
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return QELI_FAIL;
    }
    return writeText(text, path, error);
}

QELIResult writeNeutralDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                                qelx_test::WalkSummary* summary)
{
    qelx_test::TestModel model;
    if (qelx_test::walkExporter(exporter, model, summary) != QELI_OK) {
        error = path + ": the exporter could not be walked";
        return QELI_FAIL;
    }
    return writeNeutralDocument(model, path, error);
}

} // namespace qelx_formats
