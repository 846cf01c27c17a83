// Words (source words, entity addresses) kept in order, each as its difference
// from the word before, zigzag-coded in bytes of seven bits: the words of
// entities made or met one after another lie close, so a word takes one to
// four bytes where it would take eight. Read back in order only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelx_test {

class PackedWords {
public:
    void push_back(std::uint64_t word)
    {
        for (std::uint64_t c = code(word - m_last);; c >>= 7) {
            if (c < 0x80) {
                m_bytes.push_back(static_cast<std::uint8_t>(c));
                break;
            }
            m_bytes.push_back(static_cast<std::uint8_t>(c | 0x80));
        }
        m_last = word;
        ++m_count;
    }
    // Bytes the words will take, so that a list packed whole is allocated once.
    void reserve(std::size_t bytes) { m_bytes.reserve(bytes); }
    static std::size_t width(std::uint64_t before, std::uint64_t word)
    {
        std::size_t n = 1;
        for (std::uint64_t c = code(word - before); c >= 0x80; c >>= 7)
            ++n;
        return n;
    }
    void clear()
    {
        std::vector<std::uint8_t>().swap(m_bytes);
        m_last = 0;
        m_count = 0;
    }

    std::size_t size() const { return m_count; }
    std::size_t bytes() const { return m_bytes.size(); }

    // Reads the words from the first on.
    class Reader {
    public:
        explicit Reader(const PackedWords& words) : m_words(&words) {}
        bool done() const { return m_at >= m_words->m_bytes.size(); }
        std::uint64_t next()
        {
            std::uint64_t c = 0;
            for (int shift = 0;; shift += 7) {
                const std::uint8_t b = m_words->m_bytes[m_at++];
                c |= static_cast<std::uint64_t>(b & 0x7f) << shift;
                if (!(b & 0x80))
                    break;
            }
            m_last += (c >> 1) ^ (~(c & 1) + 1);
            return m_last;
        }

    private:
        const PackedWords* m_words;
        std::size_t m_at = 0;
        std::uint64_t m_last = 0;
    };

private:
    // The difference as a signed number, zigzag-coded: small either way.
    static std::uint64_t code(std::uint64_t difference)
    {
        return (difference << 1) ^ (~((difference >> 63) & 1) + 1);
    }

    std::vector<std::uint8_t> m_bytes;
    std::uint64_t m_last = 0;
    std::size_t m_count = 0;
};

} // namespace qelx_test
