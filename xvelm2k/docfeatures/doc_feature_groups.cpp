// Selection sets, associative groups and notes of the document-feature
// import, made for the entities the source document's linker names.
#include "docfeatures/doc_feature_importer.hxx"

#include <string>


#include "docfeatures/doc_feature_members.hxx"
#include "export/attribute_exporter.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr const char* kSeparatedBodies = "ATTRIB_XVELM_SEPARATED_BODIES";
constexpr int kNoteCollection = 1;

std::uint64_t wordOfHandle(const void* handle)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// The linker that says what the B-rep import made of each source entity;
// null without a source document.
const QELXRepLinker* linkerOf(QELXDocument* sourceDocument)
{
    return sourceDocument ? sourceDocument->GetRepLinker() : nullptr;
}

// The kernel entity made from the source identifier: the first target the
// linker holds for it, when it is live.
ENTITY* targetOf(const QELXRepLinker& linker, const QELXIdentifier& source)
{
    QELXIdentifiers targets;
    if (linker.GetLinks(source, targets) != QELI_OK || targets.Count() == 0)
        return nullptr;
    return QELXVelmEntityUtils::GetEntity(targets[0]);
}

} // namespace

QELIResult QELXVelmDocFeatureImporter::FindSelectionSet(const QELXString& name, QELGROUP*& found) const
{
    found = nullptr;
    QELXVelmAttributeExporter names(nullptr);
    for (QELGROUP* group : m_selectionSets) {
        if (!group)
            continue;
        QELXString own;
        const QELXIdentifier id(QELXVelmEntityUtils::GetIdentifier(group), nullptr, nullptr, "QELGROUP");
        if (names.GetName(id, own) == QELI_OK && own.equals(name)) {
            found = group;
            return QELI_OK;
        }
    }
    return QELI_FAIL;
}

QELIResult QELXVelmDocFeatureImporter::ImportSelectionSets(QELXDocumentFeatureExporter* source,
                                                           QELXAttributeExporter* attributes,
                                                           QELXDocument* sourceDocument)
{
    if (!source)
        return QELI_FAIL;
    // Without the source document there is no linker to find the members by.
    const QELXRepLinker* linker = linkerOf(sourceDocument);
    if (!linker)
        return QELI_NOTHING;
    QELIResult result = QELI_OK;
    int n = 0;
    source->GetNumberOfSelectionSets(n);
    for (int i = 0; i < n; ++i) {
        void* set = nullptr;
        source->GetIthSelectionSet(i, set);
        // A set whose name is not known (no attribute exporter, or it has
        // no answer) is one of its own rather than one with every other.
        QELXString name;
        const bool named =
            attributes &&
            attributes->GetName(QELXIdentifier(wordOfHandle(set), nullptr, nullptr, "selection_set"), name) == QELI_OK;
        bool current = false;
        source->GetSelectionSetState(set, current);
        QELGROUP* group = nullptr;
        result = named ? FindSelectionSet(name, group) : QELIResult(QELI_FAIL);
        if (!group) {
            // A set the kernel would not make is left out, not filled.
            if (!velmCall([&] { group = velm_require(VELM_NEW QELGROUP); }).ok() || !group)
                continue;
            m_selectionSets.Add(group);
        }
        int members = 0;
        source->GetNoEntitiesForSelectionSet(set, members);
        for (int j = 0; j < members; ++j) {
            void* member = nullptr;
            source->GetIthEntityFromSelectionSet(set, j, member);
            if (!member)
                continue;
            const QELXIdentifier id(wordOfHandle(member), QELXDocumentFeatureExporter::QELXDocumentFeatureTypeSelectionSet,
                                    nullptr, "QELGROUP");
            ENTITY* target = targetOf(*linker, id);
            if (!target)
                continue;
            // A body that separation split brings every piece of it along.
            bool separated = false;
            ENTITY_LIST holding;
            api_ct_return_groups(target, holding);
            for (int k = 0, m = holding.count(); k < m; ++k) {
                ENTITY* holder = holding[k];
                ATTRIB_GEN_NAME* mark = nullptr;
                if (!holder || !is_QELGROUP(holder) || !api_find_named_attribute(holder, kSeparatedBodies, mark).ok() ||
                    !mark)
                    continue;
                separated = true;
                m_separatedBodyGroups.add(holder);
                for (ENTITY* piece : ve_docfeatures::liveMembers(static_cast<QELGROUP*>(holder)))
                    api_ct_add_to_group(piece, group);
            }
            if (!separated)
                api_ct_add_to_group(target, group);
        }
        Ve_AttribTransfer::setGroupType(group, Ve_GroupSelectionSet);
        Ve_AttribTransfer::setLabel(group, name);
        if (current)
            Ve_AttribTransfer::setCurrent(group, true);
    }
    return result;
}

QELIResult QELXVelmDocFeatureImporter::ImportGroups(QELXDocumentFeatureExporter* source, QELXAttributeExporter*,
                                                    QELXDocument* sourceDocument)
{
    if (!source)
        return QELI_FAIL;
    const QELXRepLinker* linker = linkerOf(sourceDocument);
    if (!linker)
        return QELI_NOTHING;
    QELIResult result = QELI_OK;
    int n = 0;
    result &= source->GetNumberOfGroups(n);
    if (result != QELI_OK || n < 1)
        return n == 0 ? QELI_NOTHING : result;
    for (int i = 0; i < n; ++i) {
        QELXIdentifier id;
        result &= source->GetIthGroup(i, id);
        if (result != QELI_OK || !id.IsValid())
            break;
        QELXDynamicArray<std::uint64_t> open;
        if (QELCOLLECTION* group = ImportGroup(source, *linker, id, open))
            m_groups.Add(group);
    }
    return result;
}

QELCOLLECTION* QELXVelmDocFeatureImporter::ImportGroup(QELXDocumentFeatureExporter* source, const QELXRepLinker& linker,
                                                       const QELXIdentifier& groupId,
                                                       QELXDynamicArray<std::uint64_t>& open)
{
    if (open.Find(groupId.GetValue()) >= 0)
        return nullptr;
    int count = 0;
    if (source->GetNoEntitiesInGroup(groupId, count) != QELI_OK || count < 1)
        return nullptr;
    open.Add(groupId.GetValue());
    ENTITY_LIST collected;
    QELXDynamicArray<QELCOLLECTION*> nested;
    for (int j = 0; j < count; ++j) {
        QELXIdentifier id;
        if (source->GetIthEntityFromGroup(groupId, j, id) != QELI_OK || !id.IsValid())
            break;
        if (source->IsGroup(id)) {
            if (QELCOLLECTION* inner = ImportGroup(source, linker, id, open)) {
                nested.Add(inner);
                collected.add(inner);
            }
        } else if (ENTITY* target = targetOf(linker, id)) {
            collected.add(target);
        }
    }
    open.RemoveAt(open.Count() - 1);
    if (collected.count() == 0)
        return nullptr;
    QELCOLLECTION* group = nullptr;
    // The members' adding fails the call, which takes the group back.
    const outcome made = velmCall([&] {
        group = velm_require(VELM_NEW QELCOLLECTION);
        group->set_collection_save_behavior(1);
        return api_add_to_collection(collected, group);
    });
    if (made.ok())
        return group;
    // Never left out in silence: the import is short of a group.
    const char* why = message_module::find_message(made.error_number());
    QELXWarningEvent::Fire((std::string("a group of ") + std::to_string(collected.count()) +
                            " members could not be made (" + (why ? why : "the kernel refused it") + ")")
                               .c_str());
    // Nothing holds the groups made inside this one any more.
    for (QELCOLLECTION* inner : nested)
        api_del_entity(inner);
    return nullptr;
}

QELIResult QELXVelmDocFeatureImporter::ImportNotes(QELXDocumentFeatureExporter* source)
{
    if (!source)
        return QELI_FAIL;
    int n = 0;
    source->GetNumberOfNotes(n);
    if (n == 0)
        return QELI_NOTHING;
    for (int i = 0; i < n; ++i) {
        void* note = nullptr;
        source->GetIthNote(i, note);
        if (!note)
            continue;
        int parameters = 0;
        source->GetNumberOfParametersInNote(note, parameters);
        if (parameters <= 0)
            continue;
        QELXString name;
        source->GetNameOfNote(note, name);
        QELCOLLECTION* collection = nullptr;
        const outcome made = velmCall([&] {
            collection = velm_require(VELM_NEW QELCOLLECTION);
            Ve_AttribTransfer::setLabel(collection, name);
            Ve_AttribTransfer::setCollectionType(collection, kNoteCollection);
            for (int j = 0; j < parameters; ++j) {
                void* parameter = nullptr;
                source->GetIthParameterFromNote(note, j, parameter);
                if (!parameter)
                    continue;
                QELXString parameterName, value;
                int type = 0;
                source->GetParameterInfo(parameter, parameterName, value, type);
                auto* held = velm_require(VELM_NEW QELCOLLECTION);
                Ve_AttribTransfer::setLabel(held, parameterName);
                Ve_AttribTransfer::SetValue(held, value);
                Ve_AttribTransfer::SetValueType(held, type);
                collection->add_ent(held);
            }
        });
        if (made.ok() && collection)
            m_notes.Add(collection);
    }
    return QELI_OK;
}
