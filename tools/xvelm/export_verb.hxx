// `xvelm export IN.vlt OUT.json`: a kernel save file through the connector's
// B-rep exporter and the framework walk into a neutral document. Header-only
// so that the driver and its tests share one implementation.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "export/brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

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

// Restores the save file, exports it to `outPath` and prints a summary on
// `out`. 0 on success; 1 with one line on `err` otherwise, and no output file.
inline int exportNeutral(const char* inPath, const char* outPath, FILE* out, FILE* err)
{
    const auto start = std::chrono::steady_clock::now();
    FILE* fp = std::fopen(inPath, "r");
    if (!fp) {
        std::fprintf(err, "xvelm: cannot open %s\n", inPath);
        return 1;
    }
    ENTITY_LIST restored;
    const outcome read = api_restore_entity_list(fp, 1, restored);
    std::fclose(fp);
    if (!read.ok()) {
        const char* why = message_module::find_message(read.error_number());
        std::fprintf(err, "xvelm: %s is not a readable kernel save file (%s)\n", inPath, why ? why : "unknown error");
        return 1;
    }
    // The document owns what was restored and deletes it when it goes.
    auto* document = new QELXVelmDocument;
    const QELXDocumentHandle holder(document);
    document->AppendNativeEntityList(restored);
    QELXBRepExporter* made = nullptr;
    if (QELXCreateVelmBRepExporter(document, &made) != 0 || !made) {
        std::fprintf(err, "xvelm: no exporter for %s\n", inPath);
        return 1;
    }
    const QELXBRepExporterHandle exporter(made);
    int bodies = 0, faces = 0, edges = 0;
    std::string error;
    QELIResult written = 0;
    try {
        StageProgress progress(err);
        const QELIResult prepared = exporter->PreProcess();
        if (prepared != 0 && prepared != 2) {
            std::fprintf(err, "xvelm: %s could not be prepared for export (result 0x%x)\n", inPath,
                         static_cast<unsigned>(prepared));
            return 1;
        }
        exporter->GetNumberOfBodies(bodies);
        for (int i = 0; i < bodies; ++i) {
            const auto* body = static_cast<const ENTITY*>(exporter->GetBodyPtr(i));
            ENTITY_LIST f, e;
            api_get_faces(body, f);
            api_get_edges(body, e);
            faces += f.iteration_count();
            edges += e.iteration_count();
        }
        written = qelx_formats::writeNeutralDocument(exporter.get(), outPath, error);
    } catch (const velm_exception& e) {
        // The temporary file is gone with the failed write; nothing is left.
        const char* why = message_module::find_message(e.error_number());
        std::fprintf(err, "xvelm: exporting %s failed in the kernel (%s)\n", inPath, why ? why : "unknown error");
        return 1;
    }
    if (written != 0) {
        std::fprintf(err, "xvelm: %s\n", error.empty() ? "the neutral document could not be written" : error.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out, "%s: %d bodies, %d faces, %d edges exported to %s in %.2f s\n", inPath, bodies, faces, edges,
                 outPath, seconds);
    return 0;
}

}  // namespace xvelm
