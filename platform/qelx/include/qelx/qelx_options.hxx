#pragma once
// Options: typed values, named options, option sets and the process-wide
// option registry.
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"

#include <deque>
#include <vector>

// Variant value. Type codes: 0 none, 1 int, 2 double, 3 bool, 4 string.
class QELXValue {
public:
    enum Type { None = 0, Int = 1, Double = 2, Bool = 3, String = 4 };

    QELXValue() = default;
    QELXValue(bool value) : m_type(Bool), m_int(value ? 1 : 0) {}
    QELXValue(int value) : m_type(Int), m_int(value) {}
    QELXValue(double value) : m_type(Double), m_double(value) {}
    QELXValue(const QELXString& value) : m_type(String), m_text(value) {}
    QELXValue(const char* value) : m_type(String), m_text(value) {}

    int GetType() const { return m_type; }
    // Coercions: bool reads int and double as "not zero" and the texts "1",
    // "true", "TRUE", "0", "false", "FALSE"; int and double read each other
    // (truncating, saturated at the int range), bool as 0/1, and numeric
    // text. A NaN reads as neither bool nor int. Failures give 0x1000001 and
    // leave the output untouched.
    QELIResult GetValue(bool& value) const;
    QELIResult GetValue(int& value) const;
    QELIResult GetValue(double& value) const;
    QELIResult GetValue(QELXString& value) const;

private:
    Type m_type = None;
    int m_int = 0;
    double m_double = 0.0;
    QELXString m_text;
};

class QELXOption {
public:
    QELXOption() = default;
    QELXOption(const QELXString& name, const QELXValue& value) : m_name(name), m_value(value) {}
    virtual ~QELXOption() = default;

    QELIResult GetName(QELXString& name) const;
    const QELXString& name() const { return m_name; }
    // 0x1000001 when the option holds no value.
    QELIResult GetValue(QELXValue& value) const;
    QELIResult GetValue(bool& value) const { return m_value.GetValue(value); }
    QELIResult GetValue(int& value) const { return m_value.GetValue(value); }
    QELIResult GetValue(double& value) const { return m_value.GetValue(value); }
    QELIResult GetValue(QELXString& value) const { return m_value.GetValue(value); }
    int GetValueType() const { return m_value.GetType(); }

    void SetValue(const QELXValue& value) { m_value = value; }
    void SetValue(bool value) { m_value = QELXValue(value); }
    void SetValue(int value) { m_value = QELXValue(value); }
    void SetValue(double value) { m_value = QELXValue(value); }
    void SetValue(const QELXString& value) { m_value = QELXValue(value); }
    void SetValue(const char* value) { m_value = QELXValue(value); }

protected:
    QELXString m_name;
    QELXValue m_value;
};

// Ordered option set; duplicates are kept and the last one of a name wins.
class QELXOptions {
public:
    QELIResult AddOption(const QELXString& name, const QELXValue& value);
    QELIResult AddOption(const QELXString& name, bool value) { return AddOption(name, QELXValue(value)); }
    QELIResult AddOption(const QELXString& name, int value) { return AddOption(name, QELXValue(value)); }
    QELIResult AddOption(const QELXString& name, double value) { return AddOption(name, QELXValue(value)); }
    QELIResult AddOption(const QELXString& name, const char* value) { return AddOption(name, QELXValue(value)); }

    // Last option of that name; 0x1000001 and option untouched when none.
    QELIResult GetOption(const QELXString& name, QELXOption*& option);
    void InitEnumeration() { m_cursor = 0; }
    // Next in insertion order; at the end option becomes null and 0x1000001.
    QELIResult GetNext(QELXOption*& option);
    int Count() const { return static_cast<int>(m_options.size()); }
    void Clear();

private:
    std::deque<QELXOption> m_options; // stable addresses
    std::size_t m_cursor = 0;
};

// Registry entry; a switch is read as "present and on".
class Gk_Option : public QELXOption {
public:
    using QELXOption::QELXOption;

    bool on() const;
    // Int value: bool 0/1, double truncated (saturated; NaN 0), anything else 0.
    int count() const;
    // Double value: int and bool converted, anything else 0.
    double value() const;
    bool fetchValue(bool& value) const { return GetValue(value) == QELI_OK; }

    // The source argument names who changed the value; kept for the interface.
    void set(bool value, const void* source = nullptr);
    void set(int value, const void* source = nullptr);
    void set(double value, const void* source = nullptr);
};

// The process-wide option registry: key text -> option. Keys are paths
// "/<XType>/<name>" or bare texts, matched exactly. Entries keep their
// address while they exist, so bound switches stay valid across value changes.
class Gk_OptionDoc {
public:
    static Gk_Option* fetchOption(const Gk_ROString& key);
    // Creates or replaces the value (the entry keeps its address).
    static Gk_Option* setOption(const Gk_ROString& key, const QELXValue& value);
    static bool removeOption(const Gk_ROString& key);
    // Back to the load state: empty but for the writable switches, which the
    // connector sets without testing for them, present and off.
    static void reset();
    static std::vector<QELXString> keys();

    // Called after every insertion, removal and reset, so that holders of
    // bound pointers (the kernel companion's switches) re-bind.
    static void addChangeHook(void (*hook)());
    static void removeChangeHook(void (*hook)());

    // Keys created at load, present and off.
    static const std::vector<const char*>& writableKeys();
};

// Option-name texts. Kernel option names are the kernel's own; XVelm_,
// XStep_ and Pilon_ names are registry paths; _X<System> endings become
// "<stem>|X<System>"; every other text is its identifier.
struct QELXOptionName {
    static constexpr const char* AcceptBadData = "AcceptBadData";
    static constexpr const char* ChangeVertexGeom = "ChangeVertexGeom";
    static constexpr const char* CheckBody = "CheckBody";
    static constexpr const char* ChkImprintCrvInterSection = "ChkImprintCrvInterSection";
    static constexpr const char* ChkSeam = "ChkSeam";
    static constexpr const char* CleanModel = "CleanModel";
    static constexpr const char* DefaultUnitFactor = "DefaultUnitFactor";
    static constexpr const char* DoSplineResurface = "DoSplineResurface";
    static constexpr const char* ElementNameOption = "ElementNameOption";
    static constexpr const char* Export_LumpSupported = "Export_LumpSupported";
    static constexpr const char* Export_SmoothenPCurve = "Export_SmoothenPCurve";
    static constexpr const char* ExposeDegeneracies = "ExposeDegeneracies";
    static constexpr const char* HealBodyPostProcess_XStep = "HealBodyPostProcess|XStep";
    static constexpr const char* IgnoreInvalidfaces = "IgnoreInvalidfaces";
    static constexpr const char* Import_ExtendIfPCrvOutsideSrf = "Import_ExtendIfPCrvOutsideSrf";
    static constexpr const char* Import_Mode_Solid_Point = "Import_Mode_Solid_Point";
    static constexpr const char* Import_Mode_Solid_Tplgy = "Import_Mode_Solid_Tplgy";
    static constexpr const char* Import_Mode_Solid_Tplgy_false_Trim = "Import_Mode_Solid_Tplgy_false_Trim";
    static constexpr const char* Import_Mode_Solid_Trim = "Import_Mode_Solid_Trim";
    static constexpr const char* Import_Mode_Solid_Wire = "Import_Mode_Solid_Wire";
    static constexpr const char* Import_Preprocess_Split_PropEdge = "Import_Preprocess_Split_PropEdge";
    static constexpr const char* Import_Preprocess_Split_SplineCnt = "Import_Preprocess_Split_SplineCnt";
    static constexpr const char* MergeC1Edges = "MergeC1Edges";
    static constexpr const char* new_pcurve = "new_pcurve";
    static constexpr const char* new_pcurve_fit = "new_pcurve_fit";
    static constexpr const char* Pilon_Import_CallAtProductLevel = "/Pilon/Import/CallAtProductLevel";
    static constexpr const char* PreProcessGenericData = "PreProcessGenericData";
    static constexpr const char* PreprocessBodyPreProcess_XVelm = "PreprocessBodyPreProcess|XVelm";
    static constexpr const char* Read_MergeWireDuplVertices = "Read_MergeWireDuplVertices";
    static constexpr const char* ReadNonBlankedParts = "ReadNonBlankedParts";
    static constexpr const char* ReadVisibleLayerOnly = "ReadVisibleLayerOnly";
    static constexpr const char* SourceUnitAsAttrib = "SourceUnitAsAttrib";
    static constexpr const char* SplitAnalytics_XVelm = "SplitAnalytics|XVelm";
    static constexpr const char* SplitPeriodic = "SplitPeriodic";
    static constexpr const char* SplitRingEdge = "SplitRingEdge";
    static constexpr const char* System_Read = "System_Read";
    static constexpr const char* TranslateAttributePID = "TranslateAttributePID";
    static constexpr const char* TranslateAttributePName = "TranslateAttributePName";
    static constexpr const char* TranslateAttributes = "TranslateAttributes";
    static constexpr const char* TranslateFreePoints = "TranslateFreePoints";
    static constexpr const char* TranslateGroupAsAssemblies = "TranslateGroupAsAssemblies";
    static constexpr const char* TranslateLayersAndFilters = "TranslateLayersAndFilters";
    static constexpr const char* TranslateSelectionSets = "TranslateSelectionSets";
    static constexpr const char* trim_faces = "trim_faces";
    static constexpr const char* UseAnalyticSurfaceDef = "UseAnalyticSurfaceDef";
    static constexpr const char* UseSurfaceLimits = "UseSurfaceLimits";
    static constexpr const char* VdaImport_Preprocess_Split = "VdaImport_Preprocess_Split";
    static constexpr const char* WriteProcessor = "WriteProcessor";
    static constexpr const char* XStep_Import_Explode_Class2Wires = "/XStep/Import/Explode/Class2Wires";
    static constexpr const char* XStep_Import_Explode_Class3Wires = "/XStep/Import/Explode/Class3Wires";
    static constexpr const char* XVelm_Export_Preprocess_CleanModel = "/XVelm/Export/Preprocess/CleanModel";
    static constexpr const char* XVelm_TrimFace = "/XVelm/TrimFace";
    static constexpr const char* XVelm_UseAttributeImporter = "/XVelm/UseAttributeImporter";
};
