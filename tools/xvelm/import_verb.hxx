// `xvelm import IN.json OUT.vlt`: a neutral document through the connector's
// B-rep importer, healed by the recipe of the system it came from, into a
// kernel save file. Header-only so that the driver and its tests share one
// implementation.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export_verb.hxx"
#include "healed_verdict.hxx"
#include "docfeatures/doc_feature_importer.hxx"
#include "heal/repair_utils.hxx"
#include "import/brep_importer.hxx"
#include "import/source_names.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/test_doc_features.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "run_warnings.hxx"
#include "velm/save.hxx"

namespace xvelm {

// The driver's name of a source body, face or edge that a road's warning
// names by its identifier ("BRep face 5000000000003"): "body 0, face 2",
// counting the body's faces as the source lists them (its solid's shells',
// its sheets', then its lone faces), from 0 as every other place the driver
// names; an edge by its place in the source's edges ("edge 7", as a neutral
// document's path "/edges/7" counts). Other identifiers, and any of a source
// the driver did not read, stay as said.
inline std::string sourcePlaces(const std::string& text, const qelx_test::TestModel* model)
{
    if (!model)
        return text;
    const qelx_test::TestModel& m = *model;
    const auto in = [](const auto& table, int i) { return i >= 0 && static_cast<std::size_t>(i) < table.size(); };
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("BRep ", from)) != std::string::npos;) {
        std::size_t end = at + 5;
        const bool face = text.compare(end, 5, "face ") == 0, body = text.compare(end, 5, "body ") == 0,
                   edge = text.compare(end, 5, "edge ") == 0;
        if (!face && !body && !edge) {
            out += text.substr(from, end - from);
            from = end;
            continue;
        }
        end += 5;
        const std::size_t digits = end;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
            ++end;
        std::string name;
        if (end > digits && end - digits <= 16) {
            const std::uint64_t word = std::stoull(text.substr(digits, end - digits), nullptr, 16);
            const int index = qelx_test::indexOfWord(word);
            const int kind = qelx_test::kindOfWord(word);
            if (body && kind == qelx_test::KindBody && in(m.bodies, index))
                name = "body " + std::to_string(index);
            if (edge && kind == qelx_test::KindEdge && in(m.edges, index))
                name = "edge " + std::to_string(index);
            for (int b = 0; face && kind == qelx_test::KindFace && name.empty() && b < static_cast<int>(m.bodies.size());
                 ++b) {
                std::vector<int> faces;
                const qelx_test::TestBody& held = m.bodies[static_cast<std::size_t>(b)];
                const auto shell = [&](int s) {
                    if (in(m.shells, s))
                        for (int f : m.shells[static_cast<std::size_t>(s)].faces)
                            faces.push_back(f);
                };
                for (int l : held.lumps)
                    if (in(m.lumps, l))
                        for (int v : m.lumps[static_cast<std::size_t>(l)].volumes)
                            if (in(m.volumes, v))
                                for (int s : m.volumes[static_cast<std::size_t>(v)].shells)
                                    shell(s);
                for (int s : held.shells2D)
                    shell(s);
                faces.insert(faces.end(), held.faces.begin(), held.faces.end());
                if (const auto found = std::find(faces.begin(), faces.end(), index); found != faces.end())
                    name = "body " + std::to_string(b) + ", face " + std::to_string(found - faces.begin());
            }
        }
        out += text.substr(from, at - from) + (name.empty() ? text.substr(at, end - at) : name);
        from = end;
    }
    return out + text.substr(from);
}

// What an import made: the bodies handed to the document and their faces and edges.
struct ImportCounts {
    int bodies = 0, faces = 0, edges = 0;
};

// The warnings the import roads fire for what they could not import.
class ImportWarnings : public QELXEventListener {
public:
    ImportWarnings() { QELXEventBus::GetEventBus()->AddListener(this); }
    ~ImportWarnings() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    ImportWarnings(const ImportWarnings&) = delete;
    ImportWarnings& operator=(const ImportWarnings&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        if (m_listening && std::string(event.GetKind()) == "Warning") {
            const std::string text = static_cast<const QELXWarningEvent&>(event).GetText();
            texts.push_back(named ? named(text) : text);
        }
    }
    // Names the places of a warning as it comes (null: kept as said), for a
    // source whose parts come and go during the import.
    std::function<std::string(const std::string&)> named;
    void listen(bool on) { m_listening = on; }
    // The source whose bodies and faces the failure names as the driver does (null: none).
    const qelx_test::TestModel* source = nullptr;
    // Why the run fails when a warning said part of the source was lost; "" when none did
    // (a warning of what a road kept for healing to judge loses nothing: it is told at the end).
    std::string lostPart() const
    {
        std::vector<const std::string*> lost;
        for (const std::string& text : texts)
            if (text.find(kKeptForHealing) == std::string::npos)
                lost.push_back(&text);
        if (lost.empty())
            return "";
        // Led by the first that names the source entity it lost.
        const auto placed = std::find_if(lost.begin(), lost.end(), [](const std::string* text) {
            return text->find(": not imported") != std::string::npos;
        });
        if (placed != lost.end())
            std::rotate(lost.begin(), placed, placed + 1);
        std::string why = "part of it could not be imported: " + printable(sourcePlaces(*lost[0], source));
        if (lost.size() > 1)
            why += " (and " + std::to_string(lost.size() - 1) + " more)";
        return why;
    }
    // Why the run fails when healing warned that it left the model short
    // (its loose faces could not be joined): the bodies would pass for the
    // model as sheets. "" when none did; other healing warnings do not fail it.
    std::string healingFailed() const
    {
        const std::string failed = QELXVeRepairUtils::SheetJoiningFailed;
        for (const std::string& text : texts)
            if (text.compare(0, failed.size(), failed) == 0)
                return "healing failed: " + printable(text);
        return "";
    }

    std::vector<std::string> texts;

private:
    bool m_listening = false;
};

// Registry values the run sets, put back when it ends: the process goes on.
class SwitchesForRun {
public:
    SwitchesForRun() = default;
    SwitchesForRun(const SwitchesForRun&) = delete;
    SwitchesForRun& operator=(const SwitchesForRun&) = delete;
    ~SwitchesForRun()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                Gk_OptionDoc::setOption(it->first, *it->second);
            else
                Gk_OptionDoc::removeOption(it->first);
        }
    }
    void on(const std::string& key) { set(key, true); }
    void set(const std::string& key, bool value)
    {
        std::optional<QELXValue> old;
        if (const Gk_Option* existing = Gk_OptionDoc::fetchOption(key)) {
            QELXValue held;
            if (existing->GetValue(held) == QELI_OK)
                old = held;
        }
        m_saved.emplace_back(key, old);
        Gk_OptionDoc::setOption(key, QELXValue(value));
    }

private:
    std::vector<std::pair<std::string, std::optional<QELXValue>>> m_saved;
};

// Names, colours and layers travel with the bodies of an import (the
// framework leaves them behind unless told).
inline void carry_attributes(SwitchesForRun& switches)
{
    switches.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    switches.on(Ve_OptionDoc::keyOf("TransferLayer"));
}

// The framework's record of every observer call, off while a run imports:
// a driver keeps no use for it, and it would grow by a record per imported
// entity for as long as the process lives.
class ObserverLogOff {
public:
    ObserverLogOff() : m_was(Gk_ObsWraper::setRecording(false)) {}
    ~ObserverLogOff() { Gk_ObsWraper::setRecording(m_was); }
    ObserverLogOff(const ObserverLogOff&) = delete;
    ObserverLogOff& operator=(const ObserverLogOff&) = delete;

private:
    bool m_was;
};

// Gives an importer (of bodies or of an assembly) its required options and
// the source's: false with `failure` naming `what` could not be prepared.
template <class Importer, class Source>
bool prepare_importer(Importer& importer, Source* source, const char* what, std::string& failure)
{
    QELXOptions required;
    QELIResult prepared = importer->SetRequiredOptions(required);
    prepared &= importer->ProcessExporterOptions(source);
    if (prepared == QELI_OK)
        return true;
    char text[96];
    std::snprintf(text, sizeof text, "%s could not be prepared (result 0x%x)", what, static_cast<unsigned>(prepared));
    failure = text;
    return false;
}

// Commits what an importer made (the post-import step, which heals): false
// with `failure` saying why when the commit fails or healing left a body short.
template <class Importer>
bool commit_import(Importer& importer, ImportWarnings& warnings, std::string& failure)
{
    warnings.listen(true);
    const QELIResult committed = importer->PostImport();
    warnings.listen(false);
    if (committed != QELI_OK) {
        char text[80];
        std::snprintf(text, sizeof text, "the bodies could not be committed (result 0x%x)",
                      static_cast<unsigned>(committed));
        failure = text;
        return false;
    }
    failure = warnings.healingFailed();
    return failure.empty();
}

// Whether the source lists no body and no free surface, curve or point.
inline bool holdsNothing(QELXBRepExporter* source)
{
    const auto none = [source](QELIResult (QELXBRepExporter::*count)(int&)) {
        int n = 0;
        return (source->*count)(n) == QELI_OK && n == 0;
    };
    return none(&QELXBRepExporter::GetNumberOfBodies) && none(&QELXBRepExporter::GetNumberOfFreeSurfaces) &&
           none(&QELXBRepExporter::GetNumberOfFreeCurves) && none(&QELXBRepExporter::GetNumberOfFreePoints);
}

// Imports a source (the exporter of a neutral document, of a file read into
// one, or of any other system) into `target` as the framework converts a
// document: the connector's importer
// over the target, its required and exporter options, the import, then the
// post-import commit, which heals the bodies by the recipe of the system
// the model says it came from (or, given `healAs`, of that system: empty for
// no healing at all; a system without a recipe of its own gets the standard
// repair). False with `failure` saying why: the import
// failed, made nothing, or lost part of the source (a body or face the roads
// could not build is never passed over in silence). Whatever the run made is
// in the target (deleted with it) or already deleted.
// `sourceRead`, when given, is called once the import has read the whole
// source and before the commit heals: a caller may then let go of the
// source's bulk (the importer keeps the source only to answer what it made
// of a source entity, which no driver asks, and lets go of its own answers
// there).
inline bool import_source(QELXBRepExporter* source, const std::string& system, QELXVelmDocument& target,
                          ImportCounts& counts, std::string& failure,
                          const std::optional<std::string>& healAs = std::nullopt,
                          const std::function<void()>& sourceRead = {})
{
    const ObserverLogOff observerLogOff;
    try {
        QELXBRepImporter* made = nullptr;
        if (QELXCreateVelmBRepImporter(&target, &made) != QELI_OK || !made) {
            failure = "no importer could be made for it";
            return false;
        }
        const QELXBRepImporterHandle importer(made);
        SwitchesForRun switches;
        const std::string healSystem = healAs.value_or(system);
        switches.set(Ve_OptionDoc::keyOf("HealBody"), !healSystem.empty());
        if (!healSystem.empty())
            switches.on(std::string(Ve_OptionDoc::KeyPrefix) + "HealBodyPostProcess|" + healSystem);
        if (!prepare_importer(importer, source, "the importer", failure))
            return false;
        ImportWarnings warnings;
        if (auto* read = dynamic_cast<qelx_test::TestBRepExporter*>(source))
            warnings.source = &read->model();
        // The roads' warnings name source faces by their identifiers; the run
        // tells them by the driver's names, while the source is there to say them.
        const WarningPlaces places([&warnings](const std::string& text) { return sourcePlaces(text, warnings.source); });
        warnings.listen(true);
        const QELIResult imported = importer->Import(source);
        warnings.listen(false);
        if (imported == QELI_NOTHING) {
            // Named by what the roads said of each item they could not build.
            const std::string lost = warnings.lostPart();
            const std::string said = "part of it could not be imported: ";
            failure = "nothing in it could be imported" +
                      (lost.compare(0, said.size(), said) == 0 ? ": " + lost.substr(said.size()) : std::string());
            // Nothing said of any item: the source held none.
            if (lost.empty() && holdsNothing(source))
                failure = "nothing in the file: no bodies, free surfaces, curves or points";
            return false;
        }
        if (imported != QELI_OK) {
            char text[64];
            std::snprintf(text, sizeof text, "the import failed (result 0x%x)", static_cast<unsigned>(imported));
            failure = text;
            return false;
        }
        if (failure = warnings.lostPart(); !failure.empty())
            return false;
        // No driver asks what a source entity became: the importer's lookups
        // (an entry per source face, loop, coedge, edge and vertex) go before
        // the commit heals, rather than stand beside the bodies to the end.
        if (auto* velm = dynamic_cast<QELXVelmBRepImporter*>(made))
            velm->ReleaseSourceLookups();
        if (sourceRead)
            sourceRead();
        if (!commit_import(importer, warnings, failure))
            return false;
        if (const ENTITY_LIST* list = target.GetNativeEntityList())
            for (int i = 0; i < list->count(); ++i)
                if (const ENTITY* e = (*list)[i]; e && is_BODY(e) && !count_body(e, counts, failure))
                    return false;
    } catch (...) {
        failure = failure_in_flight();
    }
    return failure.empty();
}

// What the import roads made of each source entity (their EndTranslate
// events), kept in the source document's linker while one of these lives:
// the document-feature importer finds a group's or selection set's members
// there, as a framework conversion would have left them.
class SourceLinks : public QELXEventListener {
public:
    explicit SourceLinks(QELXDocument& source) : m_linker(*source.GetRepLinker())
    {
        QELXEventBus::GetEventBus()->AddListener(this);
    }
    ~SourceLinks() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    SourceLinks(const SourceLinks&) = delete;
    SourceLinks& operator=(const SourceLinks&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        if (std::string(event.GetKind()) != "EndTranslate")
            return;
        const auto& made = static_cast<const QELXEndTranslateEntityEvent&>(event);
        if (made.GetResult() == QELI_OK && made.GetSource().IsValid() && made.GetTargets().Count() > 0)
            m_linker.AddLink(QELXRepLink(made.GetSource(), made.GetTargets()));
    }

private:
    QELXRepLinker& m_linker;
};

// The source document's features (layer filters, groups, coordinate
// systems, selection sets, notes) into the target through the connector's
// document-feature importer, their members found through the links the
// B-rep import left in the source document. False with `failure` when the
// importer cannot be made or fails: they are never left behind in silence.
inline bool import_features(qelx_test::TestDocument& source, QELXBRepExporter& brep, QELXVelmDocument& target,
                            std::string& failure)
{
    const qelx_test::TestModel& m = source.model();
    QELXAttributeExporter* attributes = nullptr;
    brep.GetAttributeExporter(attributes);
    qelx_test::TestDocFeatureExporter features(&source, m, attributes);
    QELXVelmDocFeatureImporter* made = nullptr;
    if (QELXCreateVelmDocFeatureImporter(&target, &made) != QELI_OK || !made) {
        failure = "no importer could be made for its layer filters and groups";
        return false;
    }
    const std::unique_ptr<QELXDocumentFeatureImporter> importer(made);
    ImportWarnings warnings;
    warnings.listen(true);
    QELIResult result = importer->ProcessExporterOptions(&features);
    if (result == QELI_OK) {
        result = importer->Import(&features);
        if (result == QELI_NOTHING)
            result = QELI_OK;
    }
    if (result == QELI_OK)
        result = importer->PostImport();
    warnings.listen(false);
    if (result == QELI_OK && !warnings.lostPart().empty()) {
        failure = warnings.lostPart();
        return false;
    }
    if (result != QELI_OK) {
        char text[96];
        std::snprintf(text, sizeof text, "its layer filters and groups could not be imported (result 0x%x)",
                      static_cast<unsigned>(result));
        failure = text;
        return false;
    }
    return true;
}

// The same for a source model, read through the framework's test exporters,
// with its document's features.
inline bool import_model(qelx_test::TestModel model, QELXVelmDocument& target, ImportCounts& counts,
                         std::string& failure, const std::optional<std::string>& healAs = std::nullopt)
{
    const std::string system = model.xType;
    auto* sourceDocument = new qelx_test::TestDocument(std::move(model));
    const QELXDocumentHandle holdSource(sourceDocument);
    auto* source = new qelx_test::TestBRepExporter(sourceDocument);
    const QELXExportRepresentationHandle holdExporter(source);
    source->log().recording = false;
    // Its geometry goes table by table as the roads release it (the surfaces
    // once every face has its own, the curves once every edge has), so that
    // the source's bulk and the kernel bodies are not whole side by side.
    source->freeReleasedGeometry(true);
    // The source model goes once it is imported, before the commit heals:
    // the exporter, still alive, then finds no entity rather than a freed
    // one. A model with document features keeps it for them: they follow
    // the committed bodies (and the layers the commit lists) they name.
    const qelx_test::TestModel& held = sourceDocument->model();
    const bool features = !held.layerFilters.empty() || !held.groups.empty() || !held.coordinateSystems.empty() ||
                          !held.selectionSets.empty() || !held.notes.empty();
    std::optional<SourceLinks> links;
    if (features)
        links.emplace(*sourceDocument);
    if (!import_source(source, system, target, counts, failure, healAs, [&] {
            if (!features)
                sourceDocument->model() = qelx_test::TestModel();
        }))
        return false;
    links.reset();
    try {
        return import_features(*sourceDocument, *source, target, failure);
    } catch (...) {
        failure = failure_in_flight();
        return false;
    }
}

// A kernel document to import into: millimetres, and the file information a
// save file of it carries (the system the model came from). False with
// `failure` when the kernel refuses the information.
inline bool prepare_import_target(QELXVelmDocument& target, const std::string& system, std::string& failure)
{
    target.SetUnit(QELX_UNIT_MILLIMETER);
    FileInfo info;
    info.set_product_id("xvelm import");
    info.set_units(1.0);
    info.set_sending_system(system.c_str());
    if (const outcome set = api_set_file_info(FileInfo_product_id | FileInfo_units | FileInfo_sending_system, info);
        !set.ok()) {
        const char* why = message_module::find_message(set.error_number());
        failure = std::string("the kernel failed (") + (why ? why : "unknown error") + ")";
        return false;
    }
    return true;
}

// The kernel's refusal of a save, as the driver reports it: by the place the
// kernel names (the body and edge no save file may hold) when it names one.
inline std::string kernel_save_refusal(const outcome& saved)
{
    const char* why = message_module::find_message(saved.error_number());
    const std::string place = velm_last_save_refusal();
    return std::string("the kernel could not save it (") + (why ? why : "unknown error") +
           (place.empty() ? "" : ": " + printable(place)) + ")";
}

// The document's entities as the text of a kernel save file; false with
// `failure` when the kernel refuses them.
inline bool save_text(QELXVelmDocument& document, std::string& text, std::string& failure)
{
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* memory = open_memstream(&buffer, &size);
    if (!memory) {
        failure = "no memory to write it in";
        return false;
    }
    ENTITY_LIST empty;
    const ENTITY_LIST* list = document.GetNativeEntityList();
    const outcome saved = api_save_entity_list(memory, 1, list ? *list : empty);
    const bool written = std::fclose(memory) == 0;
    if (saved.ok() && written)
        text.assign(buffer, size);
    std::free(buffer);
    if (!saved.ok()) {
        failure = kernel_save_refusal(saved);
        return false;
    }
    if (!written) {
        failure = "no memory to write it in";
        return false;
    }
    return true;
}

// The document's entities saved straight into the save file at `outPath`
// (written as writeWholeFile writes: a temporary name beside it, renamed when
// all is on disk): the kernel's text goes to the file as it hands it over,
// never also held whole by the driver. False with `failure` when the kernel
// refuses the entities, or with `reason` (`failure` empty) when the file
// could not be written; nothing is then left.
inline bool save_file(QELXVelmDocument& document, const char* outPath, std::string& failure, std::string& reason)
{
    struct Sink {
        const qelx_formats::TextPut* put;
        bool failed;
    };
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
        auto* sink = static_cast<Sink*>(cookie);
        if (sink->failed || !(*sink->put)(data, size)) {
            sink->failed = true;
            return -1;
        }
        return static_cast<ssize_t>(size);
    };
    const QELIResult written = qelx_formats::writeWholeFile(
        [&](const qelx_formats::TextPut& put, std::string& why) {
            Sink sink{&put, false};
            FILE* fp = fopencookie(&sink, "w", io);
            if (!fp) {
                why = "no memory to write it in";
                return false;
            }
            ENTITY_LIST empty;
            const ENTITY_LIST* list = document.GetNativeEntityList();
            const outcome saved = api_save_entity_list(fp, 1, list ? *list : empty);
            const bool closed = std::fclose(fp) == 0;
            // A write that failed is the file's fault, whatever the kernel said of it.
            if (!saved.ok() && !sink.failed)
                failure = kernel_save_refusal(saved);
            return saved.ok() && closed && !sink.failed;
        },
        outPath, reason);
    return written == QELI_OK;
}

// Reads the neutral document, imports it into a kernel document and writes
// that as a save file at `outPath`, with the stages on `err` and a summary on
// `out`. 0 on success; 1 with one line on `err` otherwise, with no output
// file and nothing left alive: an output that is the input, or is not a
// regular file, is refused before any work.
inline int importNeutral(const char* inPath, const char* outPath, FILE* out, FILE* err)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string inName = printable(inPath), outName = printable(outPath);
    if (!output_may_be_written(inPath, outPath, "the save file", err))
        return 1;
    qelx_test::TestModel model;
    {
        std::string error;
        if (qelx_formats::readNeutralDocument(inPath, model, error) != QELI_OK) {
            std::fprintf(err, "xvelm: %s\n", printable(error).c_str());
            return 1;
        }
    }
    std::string failure, reason;
    ImportCounts counts;
    bool saved = false;
    const RunWarnings warnings;
    {
        QELXVelmDocument target; // deletes whatever the import handed it
        if (prepare_import_target(target, model.xType, failure)) {
            SwitchesForRun carried;
            carry_attributes(carried);
            StageProgress progress(err);
            import_model(std::move(model), target, counts, failure);
        }
        // Healed, the bodies must be what the way out takes.
        if (failure.empty() && target.GetNativeEntityList())
            failure = healed_bodies_unsound(*target.GetNativeEntityList());
        if (failure.empty())
            saved = save_file(target, outPath, failure, reason);
    }
    if (!failure.empty()) {
        std::fprintf(err, "xvelm: importing %s failed: %s; no save file written\n", inName.c_str(), failure.c_str());
        return 1;
    }
    if (!saved) {
        std::fprintf(err, "xvelm: %s %s\n", outName.c_str(), reason.c_str());
        return 1;
    }
    warnings.print(err, inName);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out, "%s: %d bodies, %d faces, %d edges imported to %s in %.2f s\n", inName.c_str(), counts.bodies,
                 counts.faces, counts.edges, outName.c_str(), seconds);
    return summary_told(out, err, outPath);
}

}  // namespace xvelm
