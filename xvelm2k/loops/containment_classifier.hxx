#pragma once
// A tree of boundary elements by containment: a node's children lie directly
// inside it, siblings do not contain each other, and elements whose
// comparison failed wait on a list of their own. Depth tells periphery (even)
// from hole (odd).
#include <memory>
#include <vector>

#include "loops/boundary_element.hxx"

class Ve_ContainmentLevelIndex;

class Ve_ContainmentSetElement {
public:
    explicit Ve_ContainmentSetElement(const Ve_BoundaryElement& element, Ve_ContainmentSetElement* parent = nullptr)
        : m_parent(parent), m_element(element)
    {
    }

    Ve_ContainmentSetElement* parent() const { return m_parent; }
    void setParent(Ve_ContainmentSetElement* parent) { m_parent = parent; }
    Ve_ContainmentSetElement* next() const { return m_next; }
    void setNext(Ve_ContainmentSetElement* next) { m_next = next; }
    Ve_ContainmentSetElement* child() const { return m_child; }
    void setChild(Ve_ContainmentSetElement* child) { m_child = child; }
    Ve_BoundaryElement& element() { return m_element; }
    const Ve_BoundaryElement& element() const { return m_element; }

private:
    friend class Ve_ContainmentClassifier; // relinks level heads in place
    Ve_ContainmentSetElement* m_parent = nullptr;
    Ve_ContainmentSetElement* m_next = nullptr;
    Ve_ContainmentSetElement* m_child = nullptr;
    Ve_BoundaryElement m_element;
};

class XVELM2KA_API Ve_ContainmentClassifier {
public:
    class Ve_ContainmentSetElementVisitor {
    public:
        virtual ~Ve_ContainmentSetElementVisitor() = default;
        // False stops the walk.
        virtual bool visit(Ve_ContainmentSetElement* node, int depth) = 0;
    };

    Ve_ContainmentClassifier();
    Ve_ContainmentClassifier(const Ve_ContainmentClassifier&) = delete;
    Ve_ContainmentClassifier& operator=(const Ve_ContainmentClassifier&) = delete;
    virtual ~Ve_ContainmentClassifier();

    // (element, node element): 0 the node lies inside the element, 1 unrelated,
    // 2 the element lies inside the node, 3 failure.
    virtual int compare(const Ve_BoundaryElement& element, const Ve_BoundaryElement& nodeElement) = 0;

    int count() const { return m_count; }
    Ve_ContainmentSetElement* topNode() const { return m_top; }
    void setTopNode(Ve_ContainmentSetElement* node) { m_top = node; }
    Ve_ContainmentSetElement* failures() const { return m_failures; }

    // Places the element starting at the level of `start` (the top level when
    // null); false when it went to the failure list.
    bool insert(const Ve_BoundaryElement& element, Ve_ContainmentSetElement* start = nullptr);
    // Failure list first (when no node is given), then each level: its nodes
    // in order, then the children of the last, ..., of the first.
    bool walk(Ve_ContainmentSetElementVisitor& visitor, Ve_ContainmentSetElement* node = nullptr, int depth = 0);
    // The stored element holding the loop as first or partner loop, failure
    // list first; null when none does.
    Ve_BoundaryElement* findEntry(const LOOP* loop);
    // True when the subtree from the node (its siblings included) holds a pair,
    // a marked loop, or, below depth 1, any child.
    bool hasNestedFault(Ve_ContainmentSetElement* node, int depth) const;
    // One periphery, unmarked, whose direct children are unmarked single holes.
    bool isClean() const;
    bool isNotClean() const { return !isClean(); }

protected:
    void freeNodes(Ve_ContainmentSetElement* head);
    // The box outside which nothing relates to the element (compare answers
    // 1 for every node whose box lies apart); false when no box rules nodes out.
    virtual bool separatingBox(const Ve_BoundaryElement& element, QELpar_box& box) const;
    // While many elements go in, the nodes of each level are found through a
    // grid of their boxes over the extent, so an insertion compares only with
    // the nodes its box meets. Only insert may change the tree meanwhile.
    void beginIndexedInsertion(const QELpar_box& extent, int elements);
    void endIndexedInsertion();

    int m_count = 0;
    Ve_ContainmentSetElement* m_top = nullptr;
    Ve_ContainmentSetElement* m_failures = nullptr;

private:
    void indexAdd(Ve_ContainmentSetElement* node);
    // The node left its level for the one of its (new) parent.
    void indexMove(Ve_ContainmentSetElement* node);
    // The level's nodes that may relate to the element, in level order; false
    // when the whole level must be walked.
    bool indexCandidates(const Ve_ContainmentSetElement* levelParent, const Ve_BoundaryElement& element,
                         std::vector<Ve_ContainmentSetElement*>& nodes) const;
    // The last node of the level when the index knows it, else null.
    Ve_ContainmentSetElement* indexTail(const Ve_ContainmentSetElement* levelParent) const;
    std::unique_ptr<Ve_ContainmentLevelIndex> m_index;
};

// Marks holes at even depth and peripheries at odd depth; counts the nodes.
class XVELM2KA_API Ve_UpdatePeripheryOrHoleBndryType : public Ve_ContainmentClassifier::Ve_ContainmentSetElementVisitor {
public:
    bool visit(Ve_ContainmentSetElement* node, int depth) override;
    int visited() const { return m_visited; }

protected:
    static void mark(Ve_ContainmentSetElement* node, int depth);
    int m_visited = 0;
};

// The same, leaving pairs of separation loops alone.
class XVELM2KA_API Ve_UpdateSeparationBndryType : public Ve_UpdatePeripheryOrHoleBndryType {
public:
    bool visit(Ve_ContainmentSetElement* node, int depth) override;
};
