#pragma once
// The neutral document: the framework's own file form of a generic B-rep
// (JSON, documented field by field in docs/neutral-document.md). It holds
// what the framework's exporter interfaces carry and is read back into the
// in-memory source model, whose test exporters then serve as a source.
#include "qelx/framework_walk.hxx"
#include "qelx/test_model.hxx"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
// Throws NeutralDocumentError naming the entity (its JSON path) for a model
// its reader would refuse: a number that is not finite, a spline's knots,
// geometry beyond the reader's bounds (a point or an edge's end beyond 1e7
// on an axis, a number beyond 1e100, an edge or a pcurve going round its
// circle or surface more often than it can).
std::string writeNeutralText(const qelx_test::TestModel& model);
// Throws NeutralDocumentError naming `source` and the JSON path of the fault.
// The document is read as it is parsed, element by element, never held as a
// whole tree.
qelx_test::TestModel readNeutralText(const std::string& text, const std::string& source);
// The same over a text handed over in pieces: each call of `pull` gives the
// next piece (valid until the next call), false at the end.
using TextPull = std::function<bool(std::string_view& piece)>;
qelx_test::TestModel readNeutralText(const TextPull& pull, const std::string& source);

// File forms. Reading leaves `model` untouched on failure; writing goes to
// a temporary name that is renamed only on success. 0 or 0x1000001 (with
// `error` set); a file that cannot be opened gives 0x100000e.
QELIResult readNeutralDocument(const std::string& path, qelx_test::TestModel& model, std::string& error);
// The same from an open file, read from where it stands (left open); `source`
// names it in messages.
QELIResult readNeutralDocument(int fd, const std::string& source, qelx_test::TestModel& model, std::string& error);
QELIResult writeNeutralDocument(const qelx_test::TestModel& model, const std::string& path, std::string& error);
// Any text file, the way the documents are written: a symbolic link is
// written through to the file it names; a FIFO, device, socket or directory
// is refused, never replaced; the text goes to a short temporary name in the
// target's folder, every write checked, and replaces the target only when
// all of it is on disk. On failure nothing is left and `reason` says why
// (without the path). 0 or 0x100000f.
QELIResult writeWholeFile(const std::string& text, const std::string& path, std::string& reason);
// The same with the text handed over piece by piece: `produce` calls `put`
// for each piece (false from `put` when a write failed: `produce` stops and
// answers false, as it does for a failure of its own, `reason` then set).
using TextPut = std::function<bool(const char* data, std::size_t size)>;
QELIResult writeWholeFile(const std::function<bool(const TextPut& put, std::string& reason)>& produce,
                          const std::string& path, std::string& reason);
// The file a write to `path` would replace (`path` itself, or the file its
// symbolic link names); 0x100000f with `reason` when it must not be written.
QELIResult resolveWriteTarget(const std::string& path, std::string& target, std::string& reason);
// Walks the exporter (firing the framework's stage events) and writes what
// it answered; `summary`, when given, receives the walk's counts.
QELIResult writeNeutralDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                                qelx_test::WalkSummary* summary = nullptr);

// A neutral document written while the framework walks an exporter
// (`qelx_test::walkExporter(exporter, stream)`): each table element goes, as
// soon as the walk hands it over, to an unnamed temporary file of its table
// in the target's folder, so neither the model nor its text is ever whole in
// memory (but its geometry, and of its topology the references and ranges,
// which the reader's judgement reads); `commit` joins the tables into the
// target as writeWholeFile writes. The text is byte for byte
// writeNeutralText's of the walked model, and it refuses what that refuses.
class NeutralDocumentStream : public qelx_test::WalkSink {
public:
    explicit NeutralDocumentStream(const std::string& path);
    ~NeutralDocumentStream() override;
    NeutralDocumentStream(const NeutralDocumentStream&) = delete;
    NeutralDocumentStream& operator=(const NeutralDocumentStream&) = delete;

    // 0, or 0x100000f with `reason` (without the path) and nothing written.
    QELIResult commit(std::string& reason);
    // The document's text, handed to `put` piece by piece (as commit writes
    // it); false with `reason` when a table or `put` failed.
    bool produce(const TextPut& put, std::string& reason);

    void document(const std::string& xType, int unit) override;
    void body(const qelx_test::TestBody& b) override;
    void lump(const qelx_test::TestLump& l) override;
    void volume(const qelx_test::TestVolume& v) override;
    void shell(const qelx_test::TestShell& s) override;
    void face(const qelx_test::TestFace& f) override;
    void loop(const qelx_test::TestLoop& l) override;
    void coedge(const qelx_test::TestCoedge& c) override;
    void edge(const qelx_test::TestEdge& e) override;
    void vertex(const qelx_test::TestVertex& v) override;
    void wire(const qelx_test::TestWire& w) override;
    void surface(const qelx_test::TestSurface& s) override;
    void curve(const qelx_test::TestCurve& c) override;
    void pcurve(const qelx_test::TestPCurve& p) override;
    void point(const qelx_test::Vec3& p) override;
    void edgeCoedges(int edge, const std::vector<int>& coedges) override;
    void vertexEdges(int vertex, const std::vector<int>& edges) override;
    void freeEntities(const std::vector<int>& surfaces, const std::vector<int>& curves,
                      const std::vector<int>& points) override;
    void attributes(std::uint64_t word, const qelx_test::TestAttributes& a) override;
    void layer(int number, const qelx_test::TestLayer& l) override;

private:
    struct Tables;
    std::string m_path;
    std::unique_ptr<Tables> m_tables;
};

} // namespace qelx_formats
