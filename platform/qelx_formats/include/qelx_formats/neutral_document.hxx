#pragma once
// The neutral document: the framework's own file form of a generic B-rep
// (JSON, documented field by field in docs/neutral-document.md). It holds
// what the framework's exporter interfaces carry and is read back into the
// in-memory source model, whose test exporters then serve as a source.
#include "qelx/framework_walk.hxx"
#include "qelx/test_model.hxx"

#include <stdexcept>
#include <string>

class QELXBRepExporter;

namespace qelx_formats {

inline constexpr const char* NeutralFormatName = "qelx-neutral";
inline constexpr int NeutralFormatVersion = 1;

// A refused document: the message names the source and the JSON path.
class NeutralDocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text of a model (deterministic: the same model gives the same text).
std::string writeNeutralText(const qelx_test::TestModel& model);
// Throws NeutralDocumentError naming `source` and the JSON path of the fault.
qelx_test::TestModel readNeutralText(const std::string& text, const std::string& source);

// File forms. Reading leaves `model` untouched on failure; writing goes to
// a temporary name that is renamed only on success. 0 or 0x1000001 (with
// `error` set); a file that cannot be opened gives 0x100000e.
QELIResult readNeutralDocument(const std::string& path, qelx_test::TestModel& model, std::string& error);
QELIResult writeNeutralDocument(const qelx_test::TestModel& model, const std::string& path, std::string& error);
// Any text file, the way the documents are written: a symbolic link is
// written through to the file it names; a FIFO, device, socket or directory
// is refused, never replaced; the text goes to a short temporary name in the
// target's folder, every write checked, and replaces the target only when
// all of it is on disk. On failure nothing is left and `reason` says why
// (without the path). 0 or 0x100000f.
QELIResult writeWholeFile(const std::string& text, const std::string& path, std::string& reason);
// The file a write to `path` would replace (`path` itself, or the file its
// symbolic link names); 0x100000f with `reason` when it must not be written.
QELIResult resolveWriteTarget(const std::string& path, std::string& target, std::string& reason);
// Walks the exporter (firing the framework's stage events) and writes what
// it answered; `summary`, when given, receives the walk's counts.
QELIResult writeNeutralDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                                qelx_test::WalkSummary* summary = nullptr);

} // namespace qelx_formats
