#pragma once
// The framework's attribute questions about kernel entities: colour, layer,
// name, aliases, visibility, pickability, thickness, line type and font, ids
// and unboundedness, each read afresh from the entity's attributes.
#include "model/containers.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class QELGROUP;
class Ve_DocumentTag;

class XVELM2KA_API QELXVelmAttributeExporter : public QELXODRAttributeExporter {
public:
    explicit QELXVelmAttributeExporter(Ve_DocumentTag* document);
    QELXVelmAttributeExporter(const QELXVelmAttributeExporter& other);
    QELXVelmAttributeExporter& operator=(const QELXVelmAttributeExporter& other);
    ~QELXVelmAttributeExporter() override;

    QELIResult GetColor(const QELXIdentifier& id, double* rgba) override;
    QELIResult GetLayer(const QELXIdentifier& id, int& layer) override;
    QELIResult GetName(const QELXIdentifier& id, QELXString& name) override;
    QELIResult GetAlias(const QELXIdentifier& id, QELXIdentifier& second, QELXIdentifier& first, int& count,
                        QELXString*& texts) override;
    QELIResult GetThickness(const QELXIdentifier& id, double& thickness) override;
    QELIResult GetPick(const QELXIdentifier& id, bool& pick) override;
    QELIResult GetShow(const QELXIdentifier& id, bool& show) override;
    QELIResult GetId(const QELXIdentifier& id, QELXString& text) override;
    using QELXODRAttributeExporter::GetId;
    QELIResult GetLineStyle(const QELXIdentifier& id, QELX_Attribute_Line_Font& font, QELX_Attribute_Line_Cap& cap1,
                            QELX_Attribute_Line_Cap& cap2, QELX_Attribute_Line_Join& join,
                            QELX_Attribute_Line_Cap& cap3, QELX_Attribute_Line_Cap& cap4) override;
    QELIResult GetLineWeight(const QELXIdentifier& id, int& weight) override;
    QELIResult GetFillPattern(const QELXIdentifier& id, QELX_Attribute_Fill_Pattern& pattern) override;
    QELIResult GetPenPattern(const QELXIdentifier& id, QELX_Attribute_Pen_Pattern& pattern) override;
    QELIResult GetOverlapControl(const QELXIdentifier& id, QELX_Attribute_Overlap_Control& control) override;
    QELIResult GetPlaneUnboundedness(const QELXIdentifier& id, bool& unbounded) override;
    QELIResult GetAlias2(const QELXIdentifier& id, QELXString& alias) override;
    QELIResult GetSurfaceUnboundedness(const QELXIdentifier& id, bool& unbounded) override;
    QELIResult GetLayerColor(int layer, double* rgba) override;
    QELIResult GetLayerColor(const QELXIdentifier& id, double* rgba) override;
    QELIResult GetLayerName(int layer, QELXString& name) override;
    QELIResult GetLayerName(const QELXIdentifier& id, QELXString& name) override;
    QELIResult GetLayerState(int layer, bool& current) override;
    QELIResult GetLayerState(const QELXIdentifier& id, bool& current) override;
    QELIResult GetLineType(const QELXIdentifier& id, int& type) override;
    QELIResult GetID(const QELXIdentifier& id, int& number) override;

    // Layer groups by number when there is no document.
    void SetLayerMap(QELXHashMap<int, QELGROUP*>& map);
    QELIResult GetLineFont(const QELXIdentifier& id, int& font);

    // The colour of an index: |number| mod 8 (red, green, blue).
    static void colourOfIndex(int number, double rgb[3]);

private:
    virtual QELIResult GetLayer(const QELXIdentifier& id, QELGROUP*& group);
    bool GetLayer(int number, QELGROUP*& group);

    QELXHashMap<int, QELGROUP*> m_layerMap;
    Ve_DocumentTag* m_document;
};
