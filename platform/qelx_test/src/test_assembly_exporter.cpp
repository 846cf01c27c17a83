#include "qelx/test_assembly.hxx"

#include "qelx/test_exporters.hxx"

#include <algorithm>
#include <cmath>

namespace qelx_test {

TestPlacement placementTranslation(double x, double y, double z)
{
    return {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, x, y, z};
}

TestPlacement placementTurnZ(double angle, double x, double y, double z)
{
    const double c = std::cos(angle), s = std::sin(angle);
    // Row i is the image of axis i.
    return {c, s, 0.0, -s, c, 0.0, 0.0, 0.0, 1.0, x, y, z};
}

TestPlacement placementMirrorX(double x, double y, double z)
{
    return {-1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, x, y, z};
}

int TestAssembly::addPart(const std::string& name, TestModel part)
{
    TestDefinition d;
    d.name = name;
    d.sourceName = name + ".part";
    d.part = std::move(part);
    definitions.push_back(std::move(d));
    return static_cast<int>(definitions.size()) - 1;
}

int TestAssembly::addAssembly(const std::string& name)
{
    TestDefinition d;
    d.name = name;
    d.sourceName = name + ".asm";
    d.assembly = true;
    definitions.push_back(std::move(d));
    return static_cast<int>(definitions.size()) - 1;
}

int TestAssembly::place(int parent, int definition, const std::string& name, const TestPlacement& placement)
{
    TestInstance i;
    i.definition = definition;
    i.name = name;
    i.placement = placement;
    instances.push_back(std::move(i));
    const int index = static_cast<int>(instances.size()) - 1;
    if (parent < 0)
        roots.push_back(index);
    else
        definitions[static_cast<std::size_t>(parent)].children.push_back(index);
    return index;
}

int TestAssembly::addCutFeature(int assembly, TestModel tools, std::vector<int> targets)
{
    features.push_back(TestCutFeature{std::move(tools), std::move(targets)});
    const int index = static_cast<int>(features.size()) - 1;
    definitions[static_cast<std::size_t>(assembly)].features.push_back(index);
    return index;
}

TestAssemblyDocument::TestAssemblyDocument(TestAssembly assembly) : m_assembly(std::move(assembly))
{
    SetXType("XTest");
    SetDocumentType("TEST");
    SetUnit(static_cast<QELXUnit>(m_assembly.unit));
}

namespace {

template <class T>
const T* itemOf(const std::vector<T>& table, const QELXIdentifier& id, AssemblyItemKind kind)
{
    if (!id.IsValid() || kindOfWord(id.GetValue()) != kind)
        return nullptr;
    const int index = indexOfWord(id.GetValue());
    return index >= 0 && index < static_cast<int>(table.size()) ? &table[static_cast<std::size_t>(index)] : nullptr;
}

// The forced answer when there is one, else what `write` answers.
template <class Write>
QELIResult answerAssembly(TestAssemblyExporter& exporter, const char* operation, std::uint64_t word, Write&& write)
{
    if (const TestOverride* forced = exporter.enter(operation, word))
        return forced->result;
    return write();
}

} // namespace

TestAssemblyExporter::TestAssemblyExporter(TestAssemblyDocument* document)
    : QELXAssemblyExporter(document), m_document(document), m_attributes(*this), m_features(*this)
{
}

TestAssemblyExporter::~TestAssemblyExporter() = default;

QELXIdentifier TestAssemblyExporter::makeId(AssemblyItemKind kind, int index, const char* typeName)
{
    return QELXIdentifier(assemblyWord(kind, index), typeName, this, typeName);
}

QELXIdentifier TestAssemblyExporter::instanceId(int index) { return makeId(KindInstance, index, "TestInstance"); }
QELXIdentifier TestAssemblyExporter::definitionId(int index) { return makeId(KindDefinition, index, "TestDefinition"); }
QELXIdentifier TestAssemblyExporter::featureId(int index) { return makeId(KindFeature, index, "TestFeature"); }

int TestAssemblyExporter::calls(const std::string& operation) const
{
    const auto it = m_calls.find(operation);
    return it == m_calls.end() ? 0 : it->second;
}

int TestAssemblyExporter::loads(int definition) const
{
    const auto it = m_loads.find(definition);
    return it == m_loads.end() ? 0 : it->second;
}

const TestInstance* TestAssemblyExporter::instance(const QELXIdentifier& id) const
{
    return itemOf(m_document->assembly().instances, id, KindInstance);
}

const TestDefinition* TestAssemblyExporter::definition(const QELXIdentifier& id) const
{
    return itemOf(m_document->assembly().definitions, id, KindDefinition);
}

const TestCutFeature* TestAssemblyExporter::feature(const QELXIdentifier& id) const
{
    return itemOf(m_document->assembly().features, id, KindFeature);
}

const TestOverride* TestAssemblyExporter::enter(const char* operation, std::uint64_t word)
{
    ++m_calls[operation];
    return m_document->assembly().overrideFor(operation, word);
}

QELIResult TestAssemblyExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    return answerAssembly(*this, "GetAttributeExporter", 0, [&] {
        out = &m_attributes;
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetRootCount(int& count)
{
    return answerAssembly(*this, "GetRootCount", 0, [&] {
        count = static_cast<int>(assembly().roots.size());
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetRoot(int i, QELXIdentifier& root)
{
    return answerAssembly(*this, "GetRoot", static_cast<std::uint64_t>(i + 1), [&]() -> QELIResult {
        if (i < 0 || i >= static_cast<int>(assembly().roots.size()))
            return QELI_FAIL;
        root = instanceId(assembly().roots[static_cast<std::size_t>(i)]);
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetComponentCount(const QELXIdentifier& id, int& count)
{
    return answerAssembly(*this, "GetComponentCount", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d || !d->assembly)
            return QELI_FAIL;
        count = static_cast<int>(d->children.size());
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetComponent(const QELXIdentifier& id, int j, QELXIdentifier& child)
{
    return answerAssembly(*this, "GetComponent", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d || j < 0 || j >= static_cast<int>(d->children.size()))
            return QELI_FAIL;
        child = instanceId(d->children[static_cast<std::size_t>(j)]);
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetDefinition(const QELXIdentifier& id, QELXIdentifier& out)
{
    return answerAssembly(*this, "GetDefinition", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = instance(id);
        if (!i)
            return QELI_FAIL;
        out = i->definition >= 0 ? definitionId(i->definition) : QELXIdentifier();
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::IsAssembly(const QELXIdentifier& id, bool& flag)
{
    return answerAssembly(*this, "IsAssembly", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d)
            return QELI_FAIL;
        flag = d->assembly;
        return QELI_OK;
    });
}

int TestAssemblyExporter::countParts(int index, std::vector<int>& visiting) const
{
    const TestDefinition& d = m_document->assembly().definitions[static_cast<std::size_t>(index)];
    if (!d.assembly)
        return 1;
    if (std::find(visiting.begin(), visiting.end(), index) != visiting.end())
        return 0;
    visiting.push_back(index);
    int n = 0;
    for (int child : d.children) {
        const int def = m_document->assembly().instances[static_cast<std::size_t>(child)].definition;
        if (def >= 0)
            n += countParts(def, visiting);
    }
    visiting.pop_back();
    return n;
}

QELIResult TestAssemblyExporter::GetPartCount(const QELXIdentifier& id, int& count)
{
    return answerAssembly(*this, "GetPartCount", id.GetValue(), [&]() -> QELIResult {
        if (!definition(id))
            return QELI_FAIL;
        std::vector<int> visiting;
        count = countParts(indexOfWord(id.GetValue()), visiting);
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetDefinitionName(const QELXIdentifier& id, QELXString& name)
{
    return answerAssembly(*this, "GetDefinitionName", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d)
            return QELI_FAIL;
        name = QELXString(d->name.c_str());
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetDefinitionSourceName(const QELXIdentifier& id, QELXString& name)
{
    return answerAssembly(*this, "GetDefinitionSourceName", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d)
            return QELI_FAIL;
        name = QELXString(d->sourceName.c_str());
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::fillDocument(QELXDocumentHandle& doc, const TestModel& model)
{
    auto* target = dynamic_cast<TestDocument*>(doc.get());
    if (!target)
        return QELI_INVALID_ARG;
    target->model() = model;
    target->SetXType(QELXString(model.xType.c_str()));
    target->SetUnit(static_cast<QELXUnit>(model.unit));
    target->AddExportRep(new TestBRepExporter(target));
    return QELI_OK;
}

QELIResult TestAssemblyExporter::LoadDefinition(const QELXIdentifier& id, QELXDocumentHandle& doc)
{
    return answerAssembly(*this, "LoadDefinition", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = definition(id);
        if (!d || d->assembly)
            return QELI_FAIL;
        ++m_loads[indexOfWord(id.GetValue())];
        return fillDocument(doc, d->part);
    });
}

QELIResult TestAssemblyExporter::GetInstanceReference(const QELXIdentifier& id, QELXIdentifier& reference)
{
    return answerAssembly(*this, "GetInstanceReference", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = instance(id);
        if (!i)
            return QELI_FAIL;
        reference = i->reference < 0 ? id : instanceId(i->reference);
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetInstanceTransform(const QELXIdentifier& id, double values[12], double& scale)
{
    return answerAssembly(*this, "GetInstanceTransform", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = instance(id);
        if (!i)
            return QELI_FAIL;
        std::copy(i->placement.begin(), i->placement.end(), values);
        scale = i->scale;
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetInstanceName(const QELXIdentifier& id, QELXString& name)
{
    return answerAssembly(*this, "GetInstanceName", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = instance(id);
        if (!i)
            return QELI_FAIL;
        name = QELXString(i->name.c_str());
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::CreateDefinitionEmptyDocument(const QELXIdentifier& id, QELXConverter* context,
                                                               QELXDocumentHandle& doc)
{
    return answerAssembly(*this, "CreateDefinitionEmptyDocument", id.GetValue(), [&]() -> QELIResult {
        if (!definition(id) && !feature(id))
            return QELI_FAIL;
        auto* made = new TestDocument(TestModel());
        made->SetTranslationContext(context);
        doc = made;
        ++m_openDocuments;
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::ReleaseDefinitionDocument(QELXDocumentHandle& doc)
{
    return answerAssembly(*this, "ReleaseDefinitionDocument", 0, [&]() -> QELIResult {
        if (!doc.IsValid())
            return QELI_FAIL;
        doc = QELXDocumentHandle();
        --m_openDocuments;
        return QELI_OK;
    });
}

QELIResult TestAssemblyExporter::GetAssemblyFeatureExporter(QELXAssemblyFeatureExporter*& out)
{
    return answerAssembly(*this, "GetAssemblyFeatureExporter", 0, [&] {
        out = &m_features;
        return QELI_OK;
    });
}

// ---------------------------------------------------------------------------

QELIResult TestAssemblyAttributeExporter::GetColor(const QELXIdentifier& id, double* rgba)
{
    return answerAssembly(m_owner, "GetColor", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = m_owner.instance(id);
        if (!i || !i->color)
            return QELI_NO_SOURCE;
        std::copy(i->color->begin(), i->color->end(), rgba);
        return QELI_OK;
    });
}

QELIResult TestAssemblyAttributeExporter::GetShow(const QELXIdentifier& id, bool& show)
{
    return answerAssembly(m_owner, "GetShow", id.GetValue(), [&]() -> QELIResult {
        const TestInstance* i = m_owner.instance(id);
        if (!i || !i->show)
            return QELI_NO_SOURCE;
        show = *i->show;
        return QELI_OK;
    });
}

QELIResult TestAssemblyAttributeExporter::GetAlias(const QELXIdentifier& entity, QELXIdentifier& second,
                                                   QELXIdentifier&, int& count, QELXString*& texts)
{
    return answerAssembly(m_owner, "GetAlias", second.GetValue(), [&]() -> QELIResult {
        if (!entity.IsValid())
            return QELI_NO_SOURCE;
        const std::vector<std::string>* aliases = nullptr;
        if (const TestInstance* i = m_owner.instance(second))
            aliases = &i->aliases;
        else if (const TestDefinition* d = m_owner.definition(second))
            aliases = &d->aliases;
        if (!aliases || aliases->empty())
            return QELI_NO_SOURCE;
        count = static_cast<int>(aliases->size());
        texts = new QELXString[aliases->size()];
        for (std::size_t k = 0; k < aliases->size(); ++k)
            texts[k] = QELXString((*aliases)[k].c_str());
        return QELI_OK;
    });
}

// ---------------------------------------------------------------------------

QELIResult TestAssemblyFeatureExporter::GetFeatureCount(const QELXIdentifier& id, int& count)
{
    return answerAssembly(m_owner, "GetFeatureCount", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = m_owner.definition(id);
        if (!d)
            return QELI_FAIL;
        count = static_cast<int>(d->features.size());
        return QELI_OK;
    });
}

QELIResult TestAssemblyFeatureExporter::GetFeature(const QELXIdentifier& id, int k, QELXIdentifier& feature)
{
    return answerAssembly(m_owner, "GetFeature", id.GetValue(), [&]() -> QELIResult {
        const TestDefinition* d = m_owner.definition(id);
        if (!d || k < 0 || k >= static_cast<int>(d->features.size()))
            return QELI_FAIL;
        feature = m_owner.featureId(d->features[static_cast<std::size_t>(k)]);
        return QELI_OK;
    });
}

QELIResult TestAssemblyFeatureExporter::LoadFeatureTools(const QELXIdentifier& id, QELXDocumentHandle& doc)
{
    return answerAssembly(m_owner, "LoadFeatureTools", id.GetValue(), [&]() -> QELIResult {
        const TestCutFeature* f = m_owner.feature(id);
        return f ? TestAssemblyExporter::fillDocument(doc, f->tools) : QELIResult(QELI_FAIL);
    });
}

QELIResult TestAssemblyFeatureExporter::GetFeatureTargetCount(const QELXIdentifier& id, int& count)
{
    return answerAssembly(m_owner, "GetFeatureTargetCount", id.GetValue(), [&]() -> QELIResult {
        const TestCutFeature* f = m_owner.feature(id);
        if (!f)
            return QELI_FAIL;
        count = static_cast<int>(f->targets.size());
        return QELI_OK;
    });
}

QELIResult TestAssemblyFeatureExporter::GetFeatureTarget(const QELXIdentifier& id, int t, QELXIdentifier& target)
{
    return answerAssembly(m_owner, "GetFeatureTarget", id.GetValue(), [&]() -> QELIResult {
        const TestCutFeature* f = m_owner.feature(id);
        if (!f || t < 0 || t >= static_cast<int>(f->targets.size()))
            return QELI_FAIL;
        target = m_owner.instanceId(f->targets[static_cast<std::size_t>(t)]);
        return QELI_OK;
    });
}

} // namespace qelx_test
