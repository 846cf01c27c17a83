#include "loops/containment_classifier.hxx"
#include "model/memory_init.hxx"

#include <vector>

// Walks are iterative over sibling chains, so a face with thousands of holes
// costs no deep recursion; recursion goes only as deep as the tree.

void Ve_ContainmentClassifier::freeNodes(Ve_ContainmentSetElement* head)
{
    std::vector<Ve_ContainmentSetElement*> stack;
    if (head)
        stack.push_back(head);
    while (!stack.empty()) {
        Ve_ContainmentSetElement* node = stack.back();
        stack.pop_back();
        if (node->next())
            stack.push_back(node->next());
        if (node->child())
            stack.push_back(node->child());
        delete node;
    }
}

bool Ve_ContainmentClassifier::walk(Ve_ContainmentSetElementVisitor& visitor, Ve_ContainmentSetElement* node, int depth)
{
    if (!node) {
        if (m_failures && !walk(visitor, m_failures, depth))
            return false;
        if (!m_top)
            return true;
        node = m_top;
    }
    std::vector<Ve_ContainmentSetElement*> level;
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        if (!visitor.visit(n, depth))
            return false;
        level.push_back(n);
    }
    for (auto it = level.rbegin(); it != level.rend(); ++it)
        if ((*it)->child() && !walk(visitor, (*it)->child(), depth + 1))
            return false;
    return true;
}

Ve_BoundaryElement* Ve_ContainmentClassifier::findEntry(const LOOP* loop)
{
    if (!loop)
        return nullptr;
    std::vector<Ve_ContainmentSetElement*> stack;
    if (m_top)
        stack.push_back(m_top);
    if (m_failures)
        stack.push_back(m_failures); // searched first
    while (!stack.empty()) {
        Ve_ContainmentSetElement* node = stack.back();
        stack.pop_back();
        Ve_BoundaryElement& e = node->element();
        if (e.first().loop() == loop || e.partner().loop() == loop)
            return &e;
        if (node->child())
            stack.push_back(node->child());
        if (node->next())
            stack.push_back(node->next());
    }
    return nullptr;
}

bool Ve_ContainmentClassifier::hasNestedFault(Ve_ContainmentSetElement* node, int depth) const
{
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        const Ve_BoundaryElement& e = n->element();
        if (e.hasPartner() || e.first().isMisclassified() || e.partner().isMisclassified())
            return true;
    }
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        if (!n->child())
            continue;
        if (depth + 1 > 1 || hasNestedFault(n->child(), depth + 1))
            return true;
    }
    return false;
}

bool Ve_ContainmentClassifier::isClean() const
{
    if (m_failures || !m_top || m_top->next())
        return false;
    const Ve_BoundaryElement& e = m_top->element();
    if (e.hasPartner() || e.first().isMisclassified())
        return false;
    return !hasNestedFault(m_top->child(), 1);
}

void Ve_UpdatePeripheryOrHoleBndryType::mark(Ve_ContainmentSetElement* node, int depth)
{
    Ve_LoopElement& first = node->element().first();
    const int type = first.type();
    if ((depth % 2 == 0 && type == 2) || (depth % 2 == 1 && type == 1))
        first.setMisclassified(true);
}

bool Ve_UpdatePeripheryOrHoleBndryType::visit(Ve_ContainmentSetElement* node, int depth)
{
    ++m_visited;
    mark(node, depth);
    return true;
}

bool Ve_UpdateSeparationBndryType::visit(Ve_ContainmentSetElement* node, int depth)
{
    ++m_visited;
    if (!node->element().hasPartner())
        mark(node, depth);
    return true;
}
