#include "qelx/test_model.hxx"

#include <algorithm>
#include <stdexcept>

namespace qelx_test {

namespace {
// Two bits a flag, (given, value); a value bit is never set without its
// given bit, so that pattern marks a slot whose record was made whole.
constexpr std::uint8_t kDeadSlot = 0x02;
constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

std::optional<bool> TestAttributes::*const kFlags[4] = {&TestAttributes::show, &TestAttributes::pick,
                                                        &TestAttributes::planeUnbounded,
                                                        &TestAttributes::surfaceUnbounded};
} // namespace

std::optional<std::uint8_t> TestAttributeTable::compactOf(const TestAttributes& a)
{
    if (a.layer || a.name || a.color || a.thickness || a.lineType || a.lineWeight || a.id || a.textId || a.pid ||
        a.pname || a.pset || a.mdi || a.alias2 || !a.aliases.empty())
        return std::nullopt;
    std::uint8_t flags = 0;
    for (int k = 0; k < 4; ++k)
        if (const std::optional<bool>& flag = a.*kFlags[k])
            flags = static_cast<std::uint8_t>(flags | (1u << (2 * k)) | (*flag ? 2u << (2 * k) : 0u));
    return flags;
}

TestAttributes TestAttributeTable::wholeOf(std::uint8_t flags)
{
    TestAttributes a;
    for (int k = 0; k < 4; ++k)
        if (flags & (1u << (2 * k)))
            a.*kFlags[k] = (flags & (2u << (2 * k))) != 0;
    return a;
}

std::size_t TestAttributeTable::compactSlot(std::uint64_t word) const
{
    const auto at = std::lower_bound(m_compactWords.begin(), m_compactWords.end(), word);
    if (at == m_compactWords.end() || *at != word)
        return kNoSlot;
    const std::size_t slot = static_cast<std::size_t>(at - m_compactWords.begin());
    return m_compactFlags[slot] == kDeadSlot ? kNoSlot : slot;
}

void TestAttributeTable::kill(std::size_t slot)
{
    m_compactFlags[slot] = kDeadSlot;
    ++m_dead;
}

TestAttributes& TestAttributeTable::operator[](std::uint64_t word)
{
    if (const auto it = m_whole.find(word); it != m_whole.end())
        return it->second;
    TestAttributes made;
    if (const std::size_t slot = compactSlot(word); slot != kNoSlot) {
        made = wholeOf(m_compactFlags[slot]);
        kill(slot);
    }
    return m_whole.emplace(word, std::move(made)).first->second;
}

void TestAttributeTable::set(std::uint64_t word, TestAttributes attributes)
{
    const std::optional<std::uint8_t> flags = compactOf(attributes);
    const std::size_t slot = compactSlot(word);
    if (flags && slot != kNoSlot) {
        m_compactFlags[slot] = *flags;
        return;
    }
    if (slot != kNoSlot)
        kill(slot);
    const auto whole = m_whole.find(word);
    if (flags && whole == m_whole.end() && (m_compactWords.empty() || m_compactWords.back() < word)) {
        m_compactWords.push_back(word);
        m_compactFlags.push_back(*flags);
        return;
    }
    if (whole != m_whole.end())
        whole->second = std::move(attributes);
    else
        m_whole.emplace(word, std::move(attributes));
}

std::size_t TestAttributeTable::count(std::uint64_t word) const
{
    return m_whole.count(word) + (compactSlot(word) != kNoSlot ? 1 : 0);
}

TestAttributes TestAttributeTable::at(std::uint64_t word) const
{
    if (const auto it = m_whole.find(word); it != m_whole.end())
        return it->second;
    if (const std::size_t slot = compactSlot(word); slot != kNoSlot)
        return wholeOf(m_compactFlags[slot]);
    throw std::out_of_range("no attribute record for the entity");
}

TestAttributeTable::const_iterator TestAttributeTable::find(std::uint64_t word) const
{
    if (const auto it = m_whole.find(word); it != m_whole.end()) {
        const auto from = std::lower_bound(m_compactWords.begin(), m_compactWords.end(), word);
        return const_iterator(this, static_cast<std::size_t>(from - m_compactWords.begin()), it);
    }
    if (const std::size_t slot = compactSlot(word); slot != kNoSlot)
        return const_iterator(this, slot, m_whole.upper_bound(word));
    return end();
}

TestAttributeTable::const_iterator TestAttributeTable::lower_bound(std::uint64_t word) const
{
    const auto from = std::lower_bound(m_compactWords.begin(), m_compactWords.end(), word);
    return const_iterator(this, static_cast<std::size_t>(from - m_compactWords.begin()), m_whole.lower_bound(word));
}

TestAttributeTable::const_iterator TestAttributeTable::erase(const_iterator at)
{
    if (at.atCompact()) {
        kill(at.m_compact);
        return const_iterator(this, at.m_compact + 1, at.m_whole);
    }
    const auto next = m_whole.erase(at.m_whole);
    return const_iterator(this, at.m_compact, next);
}

TestAttributeTable::const_iterator TestAttributeTable::begin() const
{
    return const_iterator(this, 0, m_whole.begin());
}

TestAttributeTable::const_iterator TestAttributeTable::end() const
{
    return const_iterator(this, m_compactWords.size(), m_whole.end());
}

void TestAttributeTable::clear()
{
    m_compactWords.clear();
    m_compactFlags.clear();
    m_dead = 0;
    m_whole.clear();
}

TestAttributeTable::const_iterator::const_iterator(const TestAttributeTable* table, std::size_t compact, Whole whole)
    : m_table(table), m_compact(compact), m_whole(whole)
{
    settle();
}

void TestAttributeTable::const_iterator::settle()
{
    while (m_compact < m_table->m_compactWords.size() && m_table->m_compactFlags[m_compact] == kDeadSlot)
        ++m_compact;
}

bool TestAttributeTable::const_iterator::atCompact() const
{
    if (m_compact >= m_table->m_compactWords.size())
        return false;
    return m_whole == m_table->m_whole.end() || m_table->m_compactWords[m_compact] < m_whole->first;
}

const TestAttributeTable::value_type& TestAttributeTable::const_iterator::operator*() const
{
    if (!atCompact())
        return *m_whole;
    if (!m_made || m_made->first != m_table->m_compactWords[m_compact])
        m_made.emplace(m_table->m_compactWords[m_compact], wholeOf(m_table->m_compactFlags[m_compact]));
    return *m_made;
}

TestAttributeTable::const_iterator& TestAttributeTable::const_iterator::operator++()
{
    if (atCompact()) {
        ++m_compact;
        settle();
    } else {
        ++m_whole;
    }
    return *this;
}

} // namespace qelx_test
