// `xvelm export IN.vlt OUT.json`: a kernel save file through the connector's
// B-rep exporter and the framework walk into a neutral document. Header-only
// so that the driver and its tests share one implementation.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "export/brep_exporter.hxx"
#include "model/entity_views.hxx"
#include "qelx/framework_walk.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/build.hxx"
#include "velm/groups.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"
#include "run_warnings.hxx"
#include "save_file.hxx"
#include "streams.hxx"
#include "text.hxx"

namespace xvelm {

// Shows the framework's stage events on `err`: one line rewritten in place
// on a terminal, one line per stage otherwise.
class StageProgress : public QELXEventListener {
public:
    explicit StageProgress(FILE* err) : m_err(err), m_terminal(isatty(fileno(err)) != 0)
    {
        QELXEventBus::GetEventBus()->AddListener(this);
    }
    ~StageProgress() override
    {
        QELXEventBus::GetEventBus()->RemoveListener(this);
        if (m_terminal && m_shown)
            std::fputc('\n', m_err);
    }
    StageProgress(const StageProgress&) = delete;
    StageProgress& operator=(const StageProgress&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        if (std::string(event.GetKind()) != "Stage")
            return;
        const auto& stage = static_cast<const QELXStartConversionStageEvent&>(event);
        const char* state = stage.IsFinished() ? "done" : "...";
        if (m_terminal)
            std::fprintf(m_err, "\r\033[K%s (%d) %s", stage.GetName(), stage.GetCount(), state);
        else
            std::fprintf(m_err, "%s (%d) %s\n", stage.GetName(), stage.GetCount(), state);
        std::fflush(m_err);
        m_shown = true;
    }

private:
    FILE* m_err;
    bool m_terminal;
    bool m_shown = false;
};

// What the framework walk recorded as failed: the walk goes on after a
// kernel failure with a preset answer, so the document it collects is no
// longer the model. Counted from the assertion log, per source.
inline std::string lost_in_walk(std::size_t assertions_before) {
  const auto& log = Gk_ErrMgr::assertions();
  if (log.size() <= assertions_before) return "";
  const std::size_t lost = log.size() - assertions_before;
  const Gk_AssertRecord& first = log[assertions_before];
  return std::to_string(lost) + (lost == 1 ? " kernel failure" : " kernel failures") +
         " during the walk (the first in " + printable(first.source) + " at line " + std::to_string(first.line) +
         ")";
}

// What an export walk met.
struct ExportCounts {
    int bodies = 0, faces = 0, edges = 0;
};

// Adds one body and its faces and edges to `counts` (an export's or an
// import's); false with `failure` naming the query the kernel refused, so
// that a summary never counts short of what was written.
template <class Counts>
bool count_body(const ENTITY* body, Counts& counts, std::string& failure)
{
    const struct {
        outcome (*query)(const ENTITY*, ENTITY_LIST&);
        const char* name;
        int* into;
    } queries[] = {{api_get_faces, "api_get_faces", &counts.faces}, {api_get_edges, "api_get_edges", &counts.edges}};
    for (const auto& q : queries) {
        ENTITY_LIST found;
        if (const outcome got = q.query(body, found); !got.ok()) {
            const char* why = message_module::find_message(got.error_number());
            failure = std::string("counting a body's topology: ") + q.name + " failed (" +
                      (why ? why : "unknown error") + ")";
            return false;
        }
        *q.into += found.iteration_count();
    }
    ++counts.bodies;
    return true;
}

// The connector's B-rep exporter over a kernel document of the top-level
// entities, prepared for export. The caller deletes what it restored itself:
// the document's own deletion knows top-level entities only, not what
// assemblies hold. False with `failure` saying why.
// The one line a verb gives for the exception being handled; called only
// inside a catch block.
inline std::string failure_in_flight()
{
    try {
        throw;
    } catch (const velm_exception& e) {
        const char* why = message_module::find_message(e.error_number());
        return std::string("the kernel failed (") + (why ? why : "unknown error") + ")";
    } catch (const QELXAllocException&) {
        return "out of memory";
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const QELXAbortException&) {
        return "aborted";
    } catch (const Gk_Exception& e) {
        return std::string("the framework failed (") + e.getText() + ")";
    } catch (const std::exception& e) {
        return std::string("unexpected failure (") + e.what() + ")";
    } catch (...) {
        return "unexpected failure";
    }
}

inline bool open_exporter(ENTITY_LIST& top, QELXDocumentHandle& document, QELXBRepExporterHandle& exporter,
                          std::string& failure)
{
    auto* made = new QELXVelmDocument;
    document = QELXDocumentHandle(made);
    made->HoldContent(false);
    made->AppendNativeEntityList(top);
    QELXBRepExporter* connector = nullptr;
    if (QELXCreateVelmBRepExporter(made, &connector) != 0 || !connector) {
        failure = "no exporter could be made for it";
        return false;
    }
    exporter = QELXBRepExporterHandle(connector);
    const QELIResult prepared = exporter->PreProcess();
    if (prepared != 0 && prepared != 2) {
        char text[96];
        std::snprintf(text, sizeof text, "it could not be prepared for export (result 0x%x)",
                      static_cast<unsigned>(prepared));
        failure = text;
        return false;
    }
    return true;
}

// A loose face, wire, edge or point of `top` that the export's preparation
// left as it was (the kernel refused to make a body of it): the export would
// leave it out without a word. "" when there is none; else its place.
inline std::string loose_entity_left(const ENTITY_LIST& top, QELXDocument& document)
{
    ENTITY_LIST* native = nullptr;
    auto* kernel = dynamic_cast<QELXVelmDocument*>(&document);
    if (!kernel || kernel->GetNativeEntityList(native) != 0 || !native)
        return "";
    std::unordered_set<const ENTITY*> left;
    for (int i = 0; i < native->count(); ++i)
        left.insert((*native)[i]);
    const struct {
        bool (*is)(const ENTITY*);
        const char* name;
    } kinds[] = {{is_FACE, "face"}, {is_WIRE, "wire"}, {is_EDGE, "edge"}, {is_APOINT, "point"}};
    for (int i = 0; i < top.count(); ++i)
        if (const ENTITY* e = top[i]; e && left.count(e))
            for (const auto& kind : kinds)
                if (kind.is(e))
                    return std::string("the loose ") + kind.name + " that is top-level entity " + std::to_string(i) +
                           " of the file could not be made into a body for the export";
    return "";
}

// The bodies the file's assemblies place that the walk does not reach: the
// B-rep export hands on the document's bodies only; what assemblies place
// travels through the assembly exchange, which a neutral document has no
// room for. Each body is counted once, however often it is placed.
inline int bodies_left_in_assemblies(const ENTITY_LIST& top, QELXBRepExporter& exporter, int exported)
{
    QELXDynamicArray<Ve_BodyTag*> placed;
    for (int i = 0; i < top.count(); ++i)
        if (ENTITY* e = top[i]; e && e->identity(1) == VE_ASSEMBLY_TYPE)
            ve_view<Ve_AssemblyTag>(static_cast<VE_ASSEMBLY*>(e))->fetchReferredBodies(placed);
    std::unordered_set<const void*> walked;
    for (int i = 0; i < exported; ++i)
        walked.insert(exporter.GetBodyPtr(i));
    int left = 0;
    for (int i = 0; i < placed.Count(); ++i)
        left += placed[i] && !walked.count(static_cast<const void*>(placed[i]));
    return left;
}

// What of the document's own features a B-rep export leaves behind (its
// groups and notes, layer filters, selection sets and coordinate systems:
// the walk hands on bodies, their attributes and their layers), as a
// warning's text; "" when there is none.
inline std::string features_left_behind(const ENTITY_LIST& top)
{
    int counts[4] = {};
    for (int i = 0; i < top.count(); ++i) {
        ENTITY* e = top[i];
        bool mark = false;
        if (!e)
            continue;
        if (is_WCS(e))
            ++counts[3];
        else if (is_QELGROUP(e)) {
            if (Ve_AttribTransfer::isLayerFilter(e, mark) && mark)
                ++counts[1];
            else if (Ve_AttribTransfer::isSelectionSet(e, mark) && mark)
                ++counts[2];
        } else if (is_QELCOLLECTION(e))
            ++counts[0];
    }
    const char* const kinds[4][2] = {{"group or note", "groups or notes"},
                                     {"layer filter", "layer filters"},
                                     {"selection set", "selection sets"},
                                     {"coordinate system", "coordinate systems"}};
    std::string list;
    for (int k = 0; k < 4; ++k)
        if (counts[k] > 0)
            list += (list.empty() ? "" : ", ") + std::to_string(counts[k]) + " " + kinds[k][counts[k] > 1];
    return list.empty() ? list : "not carried by the B-rep export, left behind: the document's " + list;
}

// Bakes each top-level body's transform into its geometry, as the export
// preprocessing of the target systems' recipes does: the exporter's views
// read geometry and points as stored, so a body placed by its transform
// would otherwise be written where it was made. False with `failure` when
// the kernel refuses.
inline bool bake_body_transforms(const ENTITY_LIST& top, std::string& failure)
{
    for (int i = 0; i < top.count(); ++i)
        if (ENTITY* e = top[i]; e && is_BODY(e) && static_cast<BODY*>(e)->transform())
            if (const outcome baked = api_change_body_trans(static_cast<BODY*>(e)); !baked.ok()) {
                const char* why = message_module::find_message(baked.error_number());
                failure = std::string("a body's transform could not be applied (") + (why ? why : "unknown error") +
                          ")";
                return false;
            }
    return true;
}

// Hands the top-level entities to the connector's B-rep exporter and walks it
// the way the framework does into `walked` (a source model, or a sink such as
// a document written as the walk goes). False with `failure` saying why:
// a document is never presented as complete when the walk had to go on
// without an answer. Nothing of the model is changed or deleted.
// `attributeFields` (qelx_test::WalkAttributeField bits) are the attributes
// the target carries: the walk asks for no others.
// The export makes a body of each loose face, edge or point of `top` and
// lists it in the document in its place: those bodies are added to `made`
// however the walk ends (nothing else deletes them; the caller owns what
// they are made of). `made` may be `top` itself (a document's list, which
// deletes its bodies with itself): `top` then becomes the document's list,
// each body in the place of what it was made of. Every verb gives one:
// without it the bodies made stay alive.
template <class Into>
bool walk_document(ENTITY_LIST& top, Into& walked, ExportCounts& counts, std::string& failure,
                   unsigned attributeFields = qelx_test::kWalkAllAttributes,
                   std::vector<const BODY*>* walkedBodies = nullptr, ENTITY_LIST* made = nullptr)
{
    try {
        QELXDocumentHandle document;
        // Declared after the document, so that it is read before the document goes.
        struct MadeBodies {
            const QELXDocumentHandle& document;
            ENTITY_LIST& top;
            ENTITY_LIST* made;
            ~MadeBodies()
            {
                auto* kernel = dynamic_cast<QELXVelmDocument*>(document.get());
                ENTITY_LIST* native = nullptr;
                if (!kernel || kernel->GetNativeEntityList(native) != 0 || !native)
                    return;
                try {
                    ENTITY_LIST bodies;
                    std::unordered_set<const ENTITY*> given;
                    for (int i = 0; i < top.count(); ++i)
                        given.insert(top[i]);
                    for (int i = 0; i < native->count(); ++i)
                        if (ENTITY* e = (*native)[i]; e && is_BODY(e) && !given.count(e))
                            bodies.add(e);
                    if (made == &top) {
                        if (bodies.count() > 0)
                            top = *native;
                    } else if (made) {
                        made->add(bodies);
                    }
                } catch (...) {
                    // Out of memory: what was not listed stays alive.
                }
            }
        } gathered{document, top, made};
        QELXBRepExporterHandle exporter;
        const std::size_t assertions = Gk_ErrMgr::assertions().size();
        if (!open_exporter(top, document, exporter, failure))
            return false;
        if (failure = loose_entity_left(top, *document); !failure.empty())
            return false;
        int bodies = 0;
        exporter->GetNumberOfBodies(bodies);
        if (const int left = bodies_left_in_assemblies(top, *exporter, bodies); left > 0) {
            failure = std::to_string(left) + (left == 1 ? " body is" : " bodies are") +
                      " placed by assemblies, which the B-rep export does not carry";
            return false;
        }
        for (int i = 0; i < bodies; ++i) {
            const auto* body = static_cast<const ENTITY*>(exporter->GetBodyPtr(i));
            if (!count_body(body, counts, failure))
                return false;
            // The kernel bodies in the walk's order, for what measures them.
            if (walkedBodies)
                walkedBodies->push_back(body && is_BODY(body) ? static_cast<const BODY*>(body) : nullptr);
        }
        if (qelx_test::walkExporter(exporter.get(), walked, nullptr, attributeFields) != QELI_OK)
            failure = "the exporter could not be walked";
        else if (std::string lost = lost_in_walk(assertions); !lost.empty())
            failure = "data was lost: " + lost;
    } catch (...) {
        failure = failure_in_flight();
    }
    return failure.empty();
}

// Whether a verb may write its output at `outPath`: not a FIFO, device or
// directory, and not the input file itself (by device and inode, whatever
// its name). Otherwise one line on `err` naming what the output is for.
inline bool output_may_be_written(const char* inPath, const char* outPath, const char* what, FILE* err)
{
    std::string target, reason;
    const std::string outName = printable(outPath);
    if (qelx_formats::resolveWriteTarget(outPath, target, reason) != QELI_OK) {
        std::fprintf(err, "xvelm: %s %s\n", outName.c_str(), reason.c_str());
        return false;
    }
    struct stat input {}, output {};
    if (stat(inPath, &input) == 0 && stat(target.c_str(), &output) == 0 && input.st_dev == output.st_dev &&
        input.st_ino == output.st_ino) {
        std::fprintf(err, "xvelm: %s is the input file %s; %s needs another name\n", outName.c_str(),
                     printable(inPath).c_str(), what);
        return false;
    }
    return true;
}

// A verb's exit status once its output is written and its summary put on
// `out`: 0 when the summary reached `out`; else 1, and the file the verb
// wrote at `outPath` goes (a failed verb leaves no output file: a full disk
// or a closed pipe on standard output fails the run, not half of it).
inline int summary_told(FILE* out, FILE* err, const char* outPath)
{
    if (output_written(out, err))
        return 0;
    std::string target, reason;
    if (qelx_formats::resolveWriteTarget(outPath, target, reason) == QELI_OK)
        std::remove(target.c_str());
    return 1;
}

// Restores the save file, exports it to `outPath` and prints a summary on
// `out`. 0 on success; 1 with one line on `err` otherwise, with no output
// file, nothing left alive and no file harmed: an output that is the input,
// or is not a regular file, is refused before any work.
inline int exportNeutral(const char* inPath, const char* outPath, FILE* out, FILE* err)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string inName = printable(inPath), outName = printable(outPath);
    if (!output_may_be_written(inPath, outPath, "the document", err))
        return 1;
    // Declared first, so that it goes last: after the exporter and the
    // document, which still read the model as they go.
    RunWarnings warnings;
    restored_model model;
    if (!restore_file(inPath, model.top, model.every, err))
        return 1;
    ExportCounts counts;
    std::string failure;
    // The document is written while the walk goes, table by table, and takes
    // the output's name only once the walk lost nothing.
    qelx_formats::NeutralDocumentStream document(outPath);
    if (bake_body_transforms(model.top, failure)) {
        StageProgress progress(err);
        walk_document(model.top, document, counts, failure, qelx_test::kWalkAllAttributes, nullptr, &model.made);
    }
    if (!failure.empty()) {
        std::fprintf(err, "xvelm: exporting %s failed: %s; no document written\n", inName.c_str(), failure.c_str());
        return 1;
    }
    std::string reason;
    QELIResult written = QELI_FILE_NOT_SAVED;
    try {
        written = document.commit(reason);
    } catch (const std::bad_alloc&) {
        reason = "could not be written (out of memory)";
    }
    if (written != QELI_OK) {
        // The input named too: what the model holds may be why. A refusal of
        // what the model holds names its place in the document ("/coedges/4").
        std::fprintf(err, "xvelm: exporting %s failed: %s%s%s; no document written\n", inName.c_str(), outName.c_str(),
                     reason.rfind('/', 0) == 0 ? ": " : " ", reason.c_str());
        return 1;
    }
    warnings.add(features_left_behind(model.top));
    warnings.print(err, inName);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out, "%s: %d bodies, %d faces, %d edges exported to %s in %.2f s\n", inName.c_str(), counts.bodies,
                 counts.faces, counts.edges, outName.c_str(), seconds);
    return summary_told(out, err, outPath);
}

}  // namespace xvelm
