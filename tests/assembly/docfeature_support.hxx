#pragma once
// Shared by the document-feature tests: kernel documents with bodies and
// features, the links a B-rep import would leave between source and target
// bodies, and a description of a kernel document's features that two
// documents can be compared by.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "docfeatures/doc_feature_exporter.hxx"
#include "docfeatures/doc_feature_importer.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace dftest {

// n labelled boxes ("body0", ...) in the document's native list.
inline std::vector<BODY*> addBodies(QELXVelmDocument& doc, int n)
{
    std::vector<BODY*> bodies;
    ENTITY_LIST list;
    for (int i = 0; i < n; ++i) {
        BODY* b = testkit::make_plane_box_at(QELposition(50.0 * i, 0, 0), 1, 2, 3);
        Ve_AttribTransfer::setLabel(b, QELXString(("body" + std::to_string(i)).c_str()));
        bodies.push_back(b);
        list.add(b);
    }
    doc.AppendNativeEntityList(list);
    return bodies;
}

// What the B-rep import leaves in the source's linker: each source word
// names the target entity made of it.
inline void linkBodies(QELXDocument& source, const std::vector<std::uint64_t>& from, const std::vector<BODY*>& to)
{
    for (std::size_t i = 0; i < from.size() && i < to.size(); ++i) {
        QELXIdentifiers targets;
        targets.Add(QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(to[i]), "TestBody", nullptr, "ENTITY"));
        source.GetRepLinker()->AddLink(QELXRepLink(QELXIdentifier(from[i], "TestBody", nullptr, "ENTITY"), targets));
    }
}

inline std::vector<std::uint64_t> wordsOf(const std::vector<BODY*>& bodies)
{
    std::vector<std::uint64_t> words;
    for (BODY* b : bodies)
        words.push_back(QELXVelmEntityUtils::GetIdentifier(b));
    return words;
}

inline QELGROUP* newGroup(QELXVelmDocument& doc, int type, const char* name)
{
    auto* g = new QELGROUP;
    Ve_AttribTransfer::setGroupType(g, type);
    Ve_AttribTransfer::setLabel(g, QELXString(name));
    ENTITY_LIST one;
    one.add(g);
    doc.AppendNativeEntityList(one);
    return g;
}

inline QELGROUP* newLayer(QELXVelmDocument& doc, int number, const char* name)
{
    QELGROUP* layer = newGroup(doc, Ve_GroupLayer, name);
    Ve_AttribTransfer::setID(layer, number);
    return layer;
}

inline QELGROUP* newLayerFilter(QELXVelmDocument& doc, const char* name, int type, bool current,
                                const std::vector<QELGROUP*>& layers)
{
    QELGROUP* filter = newGroup(doc, Ve_GroupLayerFilter, name);
    Ve_AttribTransfer::setLayerFilterType(filter, type);
    if (current)
        Ve_AttribTransfer::setCurrent(filter, true);
    for (QELGROUP* layer : layers)
        api_ct_add_to_group(layer, filter);
    return filter;
}

inline QELGROUP* newSelectionSet(QELXVelmDocument& doc, const char* name, bool current,
                                 const std::vector<ENTITY*>& members)
{
    QELGROUP* set = newGroup(doc, Ve_GroupSelectionSet, name);
    if (current)
        Ve_AttribTransfer::setCurrent(set, true);
    for (ENTITY* m : members)
        api_ct_add_to_group(m, set);
    return set;
}

// A collection of the members; listed in the document when `top`.
inline QELCOLLECTION* newCollection(QELXVelmDocument& doc, const std::vector<ENTITY*>& members, bool top)
{
    auto* c = new QELCOLLECTION;
    for (ENTITY* m : members)
        c->add_ent(m);
    if (top) {
        ENTITY_LIST one;
        one.add(c);
        doc.AppendNativeEntityList(one);
    }
    return c;
}

inline WCS* newCoordinateSystem(QELXVelmDocument& doc, const QELtransf& frame, const char* name, bool current)
{
    auto* w = new WCS(frame);
    Ve_AttribTransfer::setLabel(w, QELXString(name));
    if (current)
        Ve_AttribTransfer::setCurrent(w, true);
    ENTITY_LIST one;
    one.add(w);
    doc.AppendNativeEntityList(one);
    return w;
}

inline ENTITY* entityOfHandle(const void* handle)
{
    return QELXVelmEntityUtils::GetEntity(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle)));
}

inline int membersOf(const QELCOLLECTION* c)
{
    int n = 0;
    const ENTITY_LIST& members = c->members();
    for (int i = 0, m = members.count(); i < m; ++i)
        n += members[i] ? 1 : 0;
    return n;
}

inline std::string labelOf(ENTITY* e)
{
    QELXString label;
    Ve_AttribTransfer::getLabel(e, label);
    return label.c_str();
}

inline std::string describeTransform(const QELtransf& t)
{
    const QELposition o = QELposition(0, 0, 0) * t;
    const QELvector x = QELvector(1, 0, 0) * t, y = QELvector(0, 1, 0) * t, z = QELvector(0, 0, 1) * t;
    char text[256];
    std::snprintf(text, sizeof text, "o(%.6f %.6f %.6f) x(%.6f %.6f %.6f) y(%.6f %.6f %.6f) z(%.6f %.6f %.6f)", o.x(),
                  o.y(), o.z(), x.x(), x.y(), x.z(), y.x(), y.y(), y.z(), z.x(), z.y(), z.z());
    return text;
}

inline std::string describeMembers(const QELCOLLECTION* c, int depth);

inline std::string describeMember(ENTITY* e, int depth)
{
    if (is_QELCOLLECTION(e) && !is_QELGROUP(e))
        return depth > 8 ? "{...}" : describeMembers(static_cast<QELCOLLECTION*>(e), depth + 1);
    int id = 0;
    if (is_QELGROUP(e) && Ve_AttribTransfer::getID(e, id))
        return "layer" + std::to_string(id);
    return labelOf(e);
}

// Members by what they are, sorted, so that member order does not count.
inline std::string describeMembers(const QELCOLLECTION* c, int depth)
{
    std::vector<std::string> parts;
    const ENTITY_LIST& members = c->members();
    for (int i = 0, n = members.count(); i < n; ++i)
        if (members[i])
            parts.push_back(describeMember(members[i], depth));
    std::sort(parts.begin(), parts.end());
    std::string out = "{";
    for (const std::string& p : parts)
        out += p + " ";
    return out + "}";
}

inline bool heldByCollection(ENTITY* e)
{
    ENTITY_LIST holders;
    api_return_collections(e, holders);
    for (int i = 0, n = holders.count(); i < n; ++i)
        if (holders[i] && !is_QELGROUP(holders[i]))
            return true;
    return false;
}

// One line per document feature of the native list (coordinate systems,
// selection sets, layers, layer filters, top-level groups and notes),
// sorted: two documents with the same features read the same.
inline std::vector<std::string> describeFeatures(QELXVelmDocument& doc)
{
    std::vector<std::string> lines;
    ENTITY_LIST* native = nullptr;
    doc.GetNativeEntityList(native);
    for (int i = 0, n = native ? native->count() : 0; i < n; ++i) {
        ENTITY* e = (*native)[i];
        if (!e)
            continue;
        bool current = false, flag = false;
        Ve_AttribTransfer::getCurrent(e, current);
        const std::string state = current ? " current" : "";
        if (is_WCS(e)) {
            lines.push_back("wcs " + labelOf(e) + state + " " + describeTransform(static_cast<WCS*>(e)->to_model()));
        } else if (is_QELGROUP(e)) {
            const auto* g = static_cast<QELGROUP*>(e);
            int number = 0, type = -1;
            if (Ve_AttribTransfer::isSelectionSet(e, flag) && flag)
                lines.push_back("selection set " + labelOf(e) + state + " " + describeMembers(g, 0));
            if (Ve_AttribTransfer::isLayer(e, flag) && flag && Ve_AttribTransfer::getID(e, number))
                lines.push_back("layer" + std::to_string(number) + " " + labelOf(e));
            if (Ve_AttribTransfer::isLayerFilter(e, flag) && flag) {
                Ve_AttribTransfer::getLayerFilterType(e, type);
                lines.push_back("layer filter " + labelOf(e) + " type " + std::to_string(type) + state + " " +
                                describeMembers(g, 0));
            }
        } else if (is_QELCOLLECTION(e) && !heldByCollection(e)) {
            QELXString value;
            int kind = 0;
            if (Ve_AttribTransfer::GetIntegerAttrib(e, Ve_AttribTransfer::CollectionTypeName, kind) && kind == 1) {
                std::string note = "note " + labelOf(e) + " [";
                std::vector<std::string> parameters;
                for (ENTITY* p : [&] {
                         std::vector<ENTITY*> out;
                         const ENTITY_LIST& m = static_cast<QELCOLLECTION*>(e)->members();
                         for (int k = 0; k < m.count(); ++k)
                             if (m[k])
                                 out.push_back(m[k]);
                         return out;
                     }()) {
                    int type = 0;
                    Ve_AttribTransfer::GetStringAttrib(p, Ve_AttribTransfer::ValueName, value);
                    Ve_AttribTransfer::GetIntegerAttrib(p, Ve_AttribTransfer::ValueTypeName, type);
                    parameters.push_back(labelOf(p) + "=" + value.c_str() + ":" + std::to_string(type));
                }
                for (const std::string& p : parameters)
                    note += p + " ";
                lines.push_back(note + "]");
            } else {
                lines.push_back("group " + describeMembers(static_cast<QELCOLLECTION*>(e), 0));
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A summary item's count; -1 when the importer has no summary.
inline int summaryCount(QELXImportRepresentation& importer, const char* item)
{
    QELXDefaultImporterSummary* summary = nullptr;
    if (importer.GetSummary(summary) != QELI_OK || !summary)
        return -1;
    return summary->Value(QELXString(item));
}

// The importer of the factory, run as the framework runs it.
struct ImportRun {
    QELXVelmDocFeatureImporter* importer = nullptr;
    QELIResult imported = QELI_FAIL;
    ImportRun(QELXDocument& target, QELXDocumentFeatureExporter& source)
    {
        EXPECT_EQ(QELXCreateVelmDocFeatureImporter(&target, &importer), QELI_OK);
        QELXDocumentFeatureImporter* road = importer;
        EXPECT_EQ(road->ProcessExporterOptions(&source), QELI_OK);
        imported = road->Import(&source);
        EXPECT_EQ(road->PostImport(), QELI_OK);
    }
    ImportRun(const ImportRun&) = delete;
    ImportRun& operator=(const ImportRun&) = delete;
    ~ImportRun() { delete static_cast<QELXDocumentFeatureImporter*>(importer); }
    int count(const char* item) { return summaryCount(*importer, item); }
};

} // namespace dftest
