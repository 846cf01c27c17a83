#pragma once
// Functions shaped like kernel API functions for kernel-side applications
// (units, file properties, layers, layer filters, selection sets, the current
// entity), the layer utility, the group helpers of the exporter and the
// product-data callback.
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"
#include "qelx/qelx_units.hxx"
#include "velm/errors.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class ENTITY_LIST;
#include "qelx/qelx_document.hxx"

XVELM2KA_API outcome api_xvelm_set_unspecified_file_unit(QELXUnit unit);
XVELM2KA_API outcome api_xvelm_set_read_unit_callback(void (*callback)(QELXUnit));
XVELM2KA_API outcome api_xvelm_set_write_unit(QELXUnit unit);
XVELM2KA_API outcome api_xvelm_set_application_unit(QELXUnit unit);

XVELM2KA_API outcome api_get_file_properties(const wchar_t* path, const wchar_t* format,
                                             QELXFileProperties*& properties, const wchar_t* password, int flags);
XVELM2KA_API outcome api_release_file_properties(QELXFileProperties*& properties);

// The answer is always written (1 yes, 0 no); the kernel's API error when the
// query did not work.
XVELM2KA_API outcome api_is_layer_entity(ENTITY* entity, int& answer);
XVELM2KA_API outcome api_is_layer_filter_entity(ENTITY* entity, int& answer);
XVELM2KA_API outcome api_is_selection_set_entity(ENTITY* entity, int& answer);
XVELM2KA_API outcome api_get_current(ENTITY* entity, int& answer);
XVELM2KA_API outcome api_set_current(ENTITY* entity, int value);
// For a layer filter: 1 when its type is 0 (all layers). Anything that is not
// a layer filter is an error and leaves the answer as it was.
XVELM2KA_API outcome api_is_all_layer_filter(ENTITY* entity, int& answer);

class XVELM2KA_API QELXVelmLayerUtil {
public:
    // Layers, layer filters and the rest, input order kept.
    void SeperateLayersAndLayerFilters(const ENTITY_LIST& in, ENTITY_LIST& others, ENTITY_LIST& layers,
                                       ENTITY_LIST& layerFilters);
    void SeperateLayersAndLayerFilters(ENTITY** entities, int count, ENTITY_LIST& others, ENTITY_LIST& layers,
                                       ENTITY_LIST& layerFilters);
};

// A selection set or a layer.
XVELM2KA_API bool isGroupEntity(ENTITY* entity);
// Selection sets by equal non-empty labels, layers by equal numbers (not negative).
XVELM2KA_API bool isSameGroupEntity(ENTITY* first, ENTITY* second);
// Takes the entity, its faces, edges and vertices out of every collection.
XVELM2KA_API bool removeFromCollections(ENTITY* entity);
// Every group holding one of the entity's faces, edges, vertices or the entity.
XVELM2KA_API bool getGroupsOfEntity(ENTITY* entity, ENTITY_LIST& groups);

using QELXVelmProductDataCallback = void (*)(ENTITY_LIST*, const char*, const char*, const char*, bool);
extern XVELM2KA_API QELXVelmProductDataCallback QELXVelmProductDataCallback_fct;
XVELM2KA_API int QELXVelmSetProductDataCallback(QELXVelmProductDataCallback callback);
XVELM2KA_API int QELXVelmProductDataCallbackWrapper(ENTITY_LIST* list, QELXString& first, QELXString& second,
                                                    QELXString& third, bool flag);

#include "qelx/qelx_events.hxx"

// The start of a conversion of kernel data; it describes itself with nothing.
class XVELM2KA_API QELXStartVeConversionTaskEvt : public QELXStartConversionTaskEvent {
public:
    void GetFormattedDescription(QELXOutputStream* stream) const override;
    static void Fire();
};
