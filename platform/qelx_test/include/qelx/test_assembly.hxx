#pragma once
// The in-memory source model's assemblies: part definitions (each a source
// model), assembly definitions placing instances of other definitions,
// instances with placements, names, colours, visibility and aliases, and cut
// features; and the assembly, assembly-feature and instance attribute
// exporters over them. Every call is counted; forced answers apply per
// operation (for every word, or one word).
#include "qelx/qelx_assembly.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/test_model.hxx"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qelx_test {

// Identifier words of assembly items: (kind << 48) | (index + 1), kinds
// apart from those of the B-rep model.
enum AssemblyItemKind { KindInstance = 0x41, KindDefinition = 0x42, KindFeature = 0x43 };

// Nine matrix values row by row (row i the image of axis i), then the translation.
using TestPlacement = std::array<double, 12>;
TestPlacement placementTranslation(double x, double y, double z);
// A turn by `angle` about the z axis, then the translation.
TestPlacement placementTurnZ(double angle, double x, double y, double z);
// The mirror in the plane x = 0, then the translation.
TestPlacement placementMirrorX(double x, double y, double z);

struct TestInstance {
    int definition = -1;
    std::string name;
    TestPlacement placement = placementTranslation(0.0, 0.0, 0.0);
    double scale = 1.0;
    std::optional<std::array<double, 4>> color;
    std::optional<bool> show;
    std::vector<std::string> aliases;
    // The instance the reference names (GetInstanceReference); -1: itself.
    int reference = -1;
};

struct TestDefinition {
    std::string name;
    std::string sourceName;
    bool assembly = false;
    TestModel part;            // a part's content
    std::vector<int> children; // an assembly's instances
    std::vector<int> features; // an assembly's cut features
    std::vector<std::string> aliases;
};

struct TestCutFeature {
    TestModel tools;
    std::vector<int> targets; // instances of the owning assembly
};

class TestAssembly {
public:
    int unit = 1; // QELXUnit code of the assembly document
    std::vector<TestDefinition> definitions;
    std::vector<TestInstance> instances;
    std::vector<int> roots; // instances
    std::vector<TestCutFeature> features;

    int addPart(const std::string& name, TestModel part);
    int addAssembly(const std::string& name);
    // A new instance of `definition` under the assembly definition `parent`
    // (-1: a root).
    int place(int parent, int definition, const std::string& name,
              const TestPlacement& placement = placementTranslation(0.0, 0.0, 0.0));
    int addCutFeature(int assembly, TestModel tools, std::vector<int> targets);

    TestOverrides overrides;
    void forceAnswer(const std::string& operation, QELIResult result, std::uint64_t word = 0)
    {
        overrides[operation][word] = TestOverride{result, true};
    }
    const TestOverride* overrideFor(const char* operation, std::uint64_t word) const
    {
        return findOverride(overrides, operation, word);
    }
};

inline std::uint64_t assemblyWord(AssemblyItemKind kind, int index)
{
    return (static_cast<std::uint64_t>(kind) << 48) | static_cast<std::uint64_t>(index + 1);
}

// The assembly's own document.
class TestAssemblyDocument : public QELXDocument {
public:
    explicit TestAssemblyDocument(TestAssembly assembly);
    TestAssembly& assembly() { return m_assembly; }

private:
    TestAssembly m_assembly;
};

class TestAssemblyExporter;

// Colour, visibility and aliases of instances.
class TestAssemblyAttributeExporter : public QELXAttributeExporter {
public:
    explicit TestAssemblyAttributeExporter(TestAssemblyExporter& owner) : m_owner(owner) {}
    QELIResult GetColor(const QELXIdentifier& id, double* rgba) override;
    QELIResult GetShow(const QELXIdentifier& id, bool& show) override;
    // The aliases of `second` (an instance or a definition) for an entity
    // that names its source.
    QELIResult GetAlias(const QELXIdentifier& entity, QELXIdentifier& second, QELXIdentifier& first, int& count,
                        QELXString*& texts) override;

private:
    TestAssemblyExporter& m_owner;
};

class TestAssemblyFeatureExporter : public QELXAssemblyFeatureExporter {
public:
    explicit TestAssemblyFeatureExporter(TestAssemblyExporter& owner) : m_owner(owner) {}
    QELIResult GetFeatureCount(const QELXIdentifier& definition, int& count) override;
    QELIResult GetFeature(const QELXIdentifier& definition, int k, QELXIdentifier& feature) override;
    QELIResult LoadFeatureTools(const QELXIdentifier& feature, QELXDocumentHandle& doc) override;
    QELIResult GetFeatureTargetCount(const QELXIdentifier& feature, int& count) override;
    QELIResult GetFeatureTarget(const QELXIdentifier& feature, int t, QELXIdentifier& target) override;

private:
    TestAssemblyExporter& m_owner;
};

class TestAssemblyExporter : public QELXAssemblyExporter {
public:
    explicit TestAssemblyExporter(TestAssemblyDocument* document);
    ~TestAssemblyExporter() override;

    TestAssembly& assembly() { return m_document->assembly(); }
    QELXIdentifier instanceId(int index);
    QELXIdentifier definitionId(int index);
    QELXIdentifier featureId(int index);

    // Calls per operation.
    int calls(const std::string& operation) const;
    // LoadDefinition calls per definition.
    int loads(int definition) const;
    // Definition documents made and not yet released.
    int openDefinitionDocuments() const { return m_openDocuments; }

    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;
    QELIResult GetRootCount(int& count) override;
    QELIResult GetRoot(int i, QELXIdentifier& root) override;
    QELIResult GetComponentCount(const QELXIdentifier& definition, int& count) override;
    QELIResult GetComponent(const QELXIdentifier& definition, int j, QELXIdentifier& child) override;
    QELIResult GetDefinition(const QELXIdentifier& instance, QELXIdentifier& definition) override;
    QELIResult IsAssembly(const QELXIdentifier& definition, bool& flag) override;
    QELIResult GetPartCount(const QELXIdentifier& definition, int& count) override;
    QELIResult GetDefinitionName(const QELXIdentifier& definition, QELXString& name) override;
    QELIResult GetDefinitionSourceName(const QELXIdentifier& definition, QELXString& name) override;
    QELIResult LoadDefinition(const QELXIdentifier& definition, QELXDocumentHandle& doc) override;
    QELIResult GetInstanceReference(const QELXIdentifier& instance, QELXIdentifier& reference) override;
    QELIResult GetInstanceTransform(const QELXIdentifier& instance, double values[12], double& scale) override;
    QELIResult GetInstanceName(const QELXIdentifier& instance, QELXString& name) override;
    QELIResult CreateDefinitionEmptyDocument(const QELXIdentifier& definition, QELXConverter* context,
                                             QELXDocumentHandle& doc) override;
    QELIResult ReleaseDefinitionDocument(QELXDocumentHandle& doc) override;
    QELIResult GetAssemblyFeatureExporter(QELXAssemblyFeatureExporter*& out) override;

    // Shared with the attribute and feature exporters.
    const TestInstance* instance(const QELXIdentifier& id) const;
    const TestDefinition* definition(const QELXIdentifier& id) const;
    const TestCutFeature* feature(const QELXIdentifier& id) const;
    // Counts the call; the forced answer for it, if any.
    const TestOverride* enter(const char* operation, std::uint64_t word);
    // Fills a document made by CreateDefinitionEmptyDocument with a model
    // and the model's B-rep exporter.
    static QELIResult fillDocument(QELXDocumentHandle& doc, const TestModel& model);

private:
    QELXIdentifier makeId(AssemblyItemKind kind, int index, const char* typeName);
    int countParts(int definition, std::vector<int>& visiting) const;

    TestAssemblyDocument* m_document;
    TestAssemblyAttributeExporter m_attributes;
    TestAssemblyFeatureExporter m_features;
    std::map<std::string, int> m_calls;
    std::map<int, int> m_loads;
    int m_openDocuments = 0;
};

} // namespace qelx_test
