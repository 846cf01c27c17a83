// Nested conversions: the framework's protocol run between a document's
// export representation and a registered importer, the options it sets and
// puts back, and the assembly library's component transform and contexts.
#include "qelx/qeli_conversion.hxx"
#include "qelx/qelx_assembly.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string>& protocol()
{
    static std::vector<std::string> calls;
    return calls;
}

class RecordingExporter : public QELXExportRepresentation {
public:
    RecordingExporter(QELXDocument* doc, const char* type) : QELXExportRepresentation(doc), m_type(type) {}
    QELXRepType GetType() const override { return QELXRepType(m_type); }

protected:
    QELIResult DoPreProcess() override { return protocol().push_back("PreProcess"), QELI_OK; }
    QELIResult DoPostProcess() override { return protocol().push_back("PostProcess"), QELI_OK; }

private:
    const char* m_type;
};

class RecordingImporter : public QELXImportRepresentation {
public:
    using QELXImportRepresentation::QELXImportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("BRep"); }
    QELIResult ProcessUserOptions(QELXOptions&) override { return protocol().push_back("UserOptions"), QELI_OK; }
    QELIResult SetRequiredOptions(QELXOptions&) override { return protocol().push_back("Required"), QELI_OK; }
    QELIResult ProcessExporterOptions(QELXExportRepresentation*) override
    {
        return protocol().push_back("ExporterOptions"), QELI_OK;
    }
    QELIResult Import(QELXExportRepresentation* source) override
    {
        // What the importer's switches read while it runs.
        Gk_Option* option = Gk_OptionDoc::fetchOption(Gk_ROString("/XVelm/CheckAndFixReverseBody"));
        protocol().push_back(std::string("Import ") + source->GetType().GetName() +
                             (option && option->on() ? " reverse-check on" : " reverse-check off"));
        return QELI_NO_SOURCE;
    }
    QELIResult PostImport() override { return protocol().push_back("PostImport"), QELI_OK; }
};

struct ConversionTest : ::testing::Test {
    void SetUp() override
    {
        qelx_test::resetFramework();
        protocol().clear();
    }
    void TearDown() override { qelx_test::resetFramework(); }
};

} // namespace

TEST_F(ConversionTest, RegisteredImporterRunsTheProtocolWithTheConvertersOptionsForTheRunOnly)
{
    QELXRepresentationRegistry::RegisterImporter(QELXString("VELM"), QELXRepType("BRep"),
                                                 [](QELXDocument* d) { return new RecordingImporter(d); });
    QELXDocumentHandle source(new QELXDocument());
    source->SetXType("XTest");
    source->AddExportRep(new RecordingExporter(source.get(), "BRep"));
    source->AddExportRep(new RecordingExporter(source.get(), "Header")); // no importer: skipped
    QELXDocumentHandle target(new QELXDocument());
    target->SetXType("XVelm");
    target->SetDocumentType("VELM");
    Gk_OptionDoc::setOption(Gk_ROString("/XVelm/CheckAndFixReverseBody"), QELXValue(false));

    QELXConverter context;
    QELXRepTypes types;
    types.Add(QELXRepType("BRep"));
    types.Add(QELXRepType("Header"));
    context.SetRepresentations(types);
    QELIConverter converter(&context);
    QELIOptions options;
    options.Add(QELXString("CheckAndFixReverseBody"), true);
    converter.AppendOptions(options);
    QELIDocument from(source);
    QELIDocument to(target);
    EXPECT_FALSE(source.IsValid());
    // The importer's failure is the run's result.
    EXPECT_EQ(converter.Convert(from, to), QELI_NO_SOURCE);
    EXPECT_EQ(protocol(), (std::vector<std::string>{"UserOptions", "Required", "ExporterOptions", "PreProcess",
                                                     "Import BRep reverse-check on", "PostImport", "PostProcess"}));
    // The option is back as it was, and the documents go back to their handles.
    Gk_Option* option = Gk_OptionDoc::fetchOption(Gk_ROString("/XVelm/CheckAndFixReverseBody"));
    ASSERT_NE(option, nullptr);
    EXPECT_FALSE(option->on());
    EXPECT_EQ(context.GetInputDocument(), nullptr);
    from.Detach(source);
    to.Detach(target);
    EXPECT_TRUE(source.IsValid() && target.IsValid());
    EXPECT_EQ(source->GetTranslationContext(), nullptr);
}

TEST_F(ConversionTest, NothingToRunIsAFailure)
{
    QELXDocumentHandle source(new QELXDocument());
    source->AddExportRep(new RecordingExporter(source.get(), "BRep"));
    QELXDocumentHandle target(new QELXDocument());
    target->SetDocumentType("VELM");
    QELXConverter context;
    QELIConverter converter(&context);
    QELIDocument from(source);
    QELIDocument to(target);
    EXPECT_EQ(converter.Convert(from, to), QELI_FAIL); // no importer registered
    QELIDocument none;
    EXPECT_EQ(converter.Convert(none, to), QELI_INVALID_ARG);
    EXPECT_EQ(QELIConverter(nullptr).Convert(from, to), QELI_INVALID_ARG);
    EXPECT_TRUE(protocol().empty());
}

TEST_F(ConversionTest, DefinitionContextsInheritTheRunningConversion)
{
    QELXConverter running;
    running.SetScaleFactor(25.4);
    running.GetOptions()->AddOption("HealBody", true);
    QELXDocument doc;
    doc.SetTranslationContext(&running);
    doc.SetUnit(QELX_UNIT_INCH);
    QELXDefaultAssemblyImporter importer(&doc);
    QELXConverter* context = nullptr;
    ASSERT_EQ(importer.CreateDefinitionContext(context), QELI_OK);
    EXPECT_EQ(context->GetAssemblyContext(), &running);
    EXPECT_EQ(context->GetScaleFactor(), 25.4);
    QELXOption* option = nullptr;
    EXPECT_EQ(context->GetOptions()->GetOption("HealBody", option), QELI_OK);
    QELXDocument part;
    EXPECT_EQ(importer.UpdateUnitOf(&part), QELI_OK);
    QELXUnit unit = QELX_UNIT_NONE;
    EXPECT_EQ(part.GetUnit(unit), QELI_OK);
    EXPECT_EQ(unit, QELX_UNIT_INCH);
    EXPECT_EQ(importer.ReleaseDefinitionContext(context), QELI_OK);
    EXPECT_EQ(context, nullptr);

    const double values[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, 4, 5, 6};
    const QELXAssemblyComponentTransform transform(values, 2.0);
    double m[9], t[3];
    transform.Get(m, t);
    EXPECT_EQ(m[1], 1.0);
    EXPECT_EQ(m[3], -1.0);
    EXPECT_EQ(t[2], 6.0);
    EXPECT_EQ(transform.GetScale(), 2.0);
}
