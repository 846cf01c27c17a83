// `xvelm convert IN OUT [--heal NAME|off]`: a file of any of the driver's
// kinds into the kernel and out as any other. Kinds by extension: .vlt
// kernel save file, .json neutral document, .step/.stp, .iges/.igs, .brep.
// Files of other systems come in through the import verb's road (the
// connector's B-rep importer), healed by the recipe of their source type
// unless `--heal` names another (or `off`); everything goes out through the
// connector's exporter and the framework walk. Header-only so that the
// driver and its tests share it.
#pragma once

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "assembly_import.hxx"
#include "body_measures.hxx"
#include "export_verb.hxx"
#include "import_verb.hxx"
#include "qelx/qelx_events.hxx"
#include "exchange_library.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "run_warnings.hxx"

namespace xvelm {

enum class file_kind { kernel, neutral, cad };

// The path's extension in lower case ("" when it has none).
inline std::string extension_of(const std::string& path)
{
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Whether the path is of a kind the driver knows without the exchange.
inline bool own_kind(const std::string& path)
{
    const std::string ext = extension_of(path);
    return ext == "vlt" || ext == "json";
}

// The kind of the path; STEP, IGES and BREP files are known through the
// exchange `cad` (null when it was not needed).
inline std::optional<file_kind> file_kind_of(const std::string& path, const qelx_formats::CadExchange* cad)
{
    const std::string ext = extension_of(path);
    if (ext == "vlt")
        return file_kind::kernel;
    if (ext == "json")
        return file_kind::neutral;
    if (cad && cad->formatOf(path))
        return file_kind::cad;
    return std::nullopt;
}

// The healing recipes by name and the source type each belongs to;
// "standard" is the standard repair of each body, which a source type
// without a recipe of its own (a BREP file) gets too.
struct heal_recipe {
    const char* name;
    const char* source_type;
};
inline constexpr heal_recipe heal_recipes[] = {
    {"step", "XStep"}, {"iges", "XIges"}, {"proe", "XProE"},   {"v4", "XV4"},     {"v5", "XV5"},
    {"ug", "XUg"},     {"vda", "XVda"},   {"ps", "XPs"},       {"ideas", "XIdeas"}, {"inventor", "XInventor"},
    {"standard", "standard"},
};

inline const heal_recipe* heal_recipe_named(const std::string& name)
{
    std::string lower = name;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const heal_recipe& r : heal_recipes)
        if (lower == r.name)
            return &r;
    return nullptr;
}

inline const heal_recipe& heal_recipe_of_source(const std::string& type)
{
    for (const heal_recipe& r : heal_recipes)
        if (type == r.source_type)
            return r;
    return heal_recipes[sizeof heal_recipes / sizeof heal_recipes[0] - 1];
}

// Counts the repair steps healing ran (by task), for the summary.
class repair_count : public QELXEventListener {
public:
    repair_count() { QELXEventBus::GetEventBus()->AddListener(this); }
    ~repair_count() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    repair_count(const repair_count&) = delete;
    repair_count& operator=(const repair_count&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        if (std::string(event.GetKind()) == "StartTask")
            ++m_tasks[static_cast<const QELXStartTaskEvent&>(event).GetTaskName()];
    }
    std::string text() const
    {
        int total = 0;
        std::string list;
        for (const auto& [name, n] : m_tasks) {
            total += n;
            list += (list.empty() ? "" : ", ") + name + (n > 1 ? " x" + std::to_string(n) : "");
        }
        return std::to_string(total) + (total == 1 ? " repair step" : " repair steps") +
               (list.empty() ? "" : " (" + list + ")");
    }

private:
    std::map<std::string, int> m_tasks;
};

// `heal` is null to follow the source type, "off", or a recipe's name.
// 0 on success; 1 with one line on `err` when the work failed (no output
// file then, nothing left alive); 2 when the command line is wrong.
inline int convert(const char* inPath, const char* outPath, const char* heal, FILE* out, FILE* err)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string inName = printable(inPath), outName = printable(outPath);
    // The exchange is opened only when a file is not one of the driver's own kinds.
    const qelx_formats::CadExchange* cad = nullptr;
    if (!own_kind(inPath) || !own_kind(outPath)) {
        std::string why;
        if (!(cad = cad_exchange(why))) {
            std::fprintf(err, "xvelm convert: STEP, IGES and BREP files cannot be handled (%s)\n", printable(why).c_str());
            return 1;
        }
    }
    const std::optional<file_kind> inKind = file_kind_of(inPath, cad), outKind = file_kind_of(outPath, cad);
    for (const auto& [kind, name] : {std::pair{inKind, inName}, std::pair{outKind, outName}})
        if (!kind) {
            std::fprintf(err,
                         "xvelm convert: %s: unknown kind of file (.vlt, .json, .step, .stp, .iges, .igs or .brep)\n",
                         name.c_str());
            return 2;
        }
    const heal_recipe* chosen = nullptr;
    const bool healOff = heal && std::strcmp(heal, "off") == 0;
    if (heal && !healOff && !(chosen = heal_recipe_named(heal))) {
        std::string names;
        for (const heal_recipe& r : heal_recipes)
            names += std::string(names.empty() ? "" : ", ") + r.name;
        std::fprintf(err, "xvelm convert: --heal %s: no such recipe (%s, or off)\n", printable(heal).c_str(),
                     names.c_str());
        return 2;
    }
    if (*inKind == file_kind::kernel && chosen) {
        // Kernel bodies are not imported, and only an import heals.
        std::fprintf(err, "xvelm convert: %s is a kernel save file; --heal applies to files of other systems\n",
                     inName.c_str());
        return 2;
    }
    if (!output_may_be_written(inPath, outPath, "the output", err))
        return 1;

    // Declared first, so that they go last: the exporter and documents
    // still read the model as they go.
    std::optional<restored_model> restored(std::in_place);
    QELXVelmDocument target; // deletes whatever the import handed it
    ENTITY_LIST* top = nullptr;
    std::string healing = "not healed";
    repair_count repairs;
    RunWarnings warnings;
    int sourceFaces = -1;
    std::fprintf(err, "reading %s\n", inName.c_str());
    if (*inKind == file_kind::kernel) {
        if (!restore_file(inPath, restored->top, restored->every, err))
            return 1;
        top = &restored->top;
    } else {
        qelx_test::TestModel model;
        // A STEP file whose products place others comes in as an assembly:
        // each product converted once, each of its instances placed. The
        // file is read once for either road.
        qelx_test::TestAssembly assembly;
        bool isAssembly = false;
        std::string error;
        const bool step = *inKind == file_kind::cad && cad->formatOf(inPath) == qelx_formats::CadFormat::Step;
        const QELIResult read =
            step ? cad->readStepFile(inPath, model, assembly, isAssembly, sourceFaces, error)
            : *inKind == file_kind::cad ? cad->readFile(inPath, model, error)
                                        : qelx_formats::readNeutralDocument(inPath, model, error);
        if (read != QELI_OK) {
            std::fprintf(err, "xvelm: %s\n", printable(error).c_str());
            return 1;
        }
        if (!step)
            sourceFaces = static_cast<int>(model.faces.size());
        const std::string xType = isAssembly ? cad->sourceType(qelx_formats::CadFormat::Step) : model.xType;
        const heal_recipe* recipe = healOff ? nullptr : chosen ? chosen : &heal_recipe_of_source(xType);
        if (recipe)
            healing = std::string("healed by the ") + recipe->name + " recipe";
        // Healing by the source's own system, the named recipe's, or none.
        const std::optional<std::string> healAs =
            healOff ? std::optional<std::string>("") : chosen ? std::optional<std::string>(chosen->source_type)
                                                              : std::nullopt;
        ImportCounts counts;
        std::string failure;
        if (prepare_import_target(target, xType, failure)) {
            SwitchesForRun carried;
            carry_attributes(carried);
            StageProgress progress(err);
            if (isAssembly)
                import_assembly(std::move(assembly), target, counts, failure, healAs);
            else
                import_model(std::move(model), target, counts, failure, healAs);
        }
        // Healed bodies must be what the way out takes: judged here unless
        // the STEP writer, whose checks these are, judges them on the way out.
        // An assembly's placed bodies are not walked whole (the B-rep export
        // leaves placements behind).
        const bool stepOut = *outKind == file_kind::cad && cad->formatOf(outPath) == qelx_formats::CadFormat::Step;
        if (failure.empty() && recipe && !isAssembly && !stepOut && target.GetNativeEntityList())
            failure = healed_bodies_unsound(*target.GetNativeEntityList());
        if (!failure.empty()) {
            std::fprintf(err, "xvelm: importing %s failed: %s; nothing written\n", inName.c_str(), failure.c_str());
            return 1;
        }
        top = target.GetNativeEntityList();
    }

    std::fprintf(err, "writing %s\n", outName.c_str());
    ExportCounts counts;
    std::string failure, text;
    if (*outKind == file_kind::kernel) {
        for (int i = 0; failure.empty() && top && i < top->count(); ++i)
            if (const ENTITY* e = (*top)[i]; e && is_BODY(e))
                count_body(e, counts, failure);
        QELXVelmDocument holder;
        holder.HoldContent(false);
        if (top)
            holder.AppendNativeEntityList(*top);
        if (failure.empty())
            save_text(holder, text, failure);
    } else {
        qelx_test::TestModel walked;
        std::vector<const BODY*> walkedBodies;
        warnings.add(top ? features_left_behind(*top) : std::string());
        // A save file's bodies may be placed by transforms (the kernel
        // output keeps them as they are).
        if (!top || bake_body_transforms(*top, failure)) {
            StageProgress progress(err);
            ENTITY_LIST none;
            // A STEP, IGES or BREP file carries some attributes or none:
            // the walk reads only those.
            const unsigned fields = *outKind == file_kind::cad ? cad->attributeFields(*cad->formatOf(outPath))
                                                               : qelx_test::kWalkAllAttributes;
            // The bodies the export makes of loose entities go with the
            // restored model, or take their places in the import's target.
            ENTITY_LIST* made = !top ? nullptr : top == &restored->top ? &restored->made : top;
            walk_document(top ? *top : none, walked, counts, failure, fields, &walkedBodies, made);
        }
        if (failure.empty() && *outKind == file_kind::neutral) {
            try {
                text = qelx_formats::writeNeutralText(walked);
            } catch (const qelx_formats::NeutralDocumentError& refused) {
                // What its reader would refuse, named by its place.
                failure = std::string("the document cannot be written: ") + refused.what();
            } catch (...) {
                failure = failure_in_flight();
            }
        } else if (failure.empty()) {
            // What the writer holds its shapes against: the kernel's own
            // measures of the bodies, taken while they are still here.
            const qelx_formats::CadSourceMeasures measures = kernel_measures(walkedBodies, walked);
            // A model of nothing (a save file of no entities) is no STEP or
            // IGES file's: its writer fails, and the failure names no place.
            const bool nothing = walked.bodies.empty() && walked.freeSurfaces.empty() &&
                                 walked.freeCurves.empty() && walked.freePoints.empty();
            // Walked, the restored model has served: the file's writer needs
            // memory of its own many times the model's.
            restored.reset();
            top = nullptr;
            std::string error;
            // The line names the input too: a file that reads but cannot be
            // written (a damaged one among others) is told apart by it.
            if (cad->writeFile(std::move(walked), outPath, error, nullptr, &measures) != QELI_OK) {
                if (nothing)
                    error = "nothing in the file to write into " + outName + " (no bodies or free geometry)";
                std::fprintf(err, "xvelm: converting %s failed: %s; nothing written\n", inName.c_str(),
                             printable(error).c_str());
                return 1;
            }
        }
    }
    if (!failure.empty()) {
        std::fprintf(err, "xvelm: converting %s failed: %s; nothing written\n", inName.c_str(), failure.c_str());
        return 1;
    }
    if (*outKind != file_kind::cad) {
        std::string reason;
        if (qelx_formats::writeWholeFile(text, outPath, reason) != QELI_OK) {
            std::fprintf(err, "xvelm: %s %s\n", outName.c_str(), reason.c_str());
            return 1;
        }
    }
    warnings.print(err, inName);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string source = sourceFaces >= 0 ? " (" + std::to_string(sourceFaces) + " in the source)" : "";
    std::fprintf(out, "%s: %d %s, %d %s%s, %s, %s; written to %s in %.2f s\n", inName.c_str(), counts.bodies,
                 counts.bodies == 1 ? "body" : "bodies", counts.faces, counts.faces == 1 ? "face" : "faces",
                 source.c_str(), healing.c_str(), repairs.text().c_str(), outName.c_str(), seconds);
    return summary_told(out, err, outPath);
}

// The verb's operands (null-terminated): IN OUT, and `--heal NAME|off`
// before, between or after them.
inline int convert_command(char** operands, FILE* out, FILE* err)
{
    std::vector<const char*> paths;
    const char* heal = nullptr;
    for (char** at = operands; *at; ++at) {
        if (std::strcmp(*at, "--heal") == 0) {
            if (!at[1] || heal) {
                std::fprintf(err, "xvelm convert: --heal takes one recipe name or off (try xvelm --help)\n");
                return 2;
            }
            heal = *++at;
        } else {
            paths.push_back(*at);
        }
    }
    if (paths.size() != 2) {
        std::fprintf(err, "xvelm convert: expects IN OUT [--heal NAME|off] (try xvelm --help)\n");
        return 2;
    }
    return convert(paths[0], paths[1], heal, out, err);
}

} // namespace xvelm
