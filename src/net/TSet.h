#pragma once

#include <cstdint>
#include <initializer_list>

// A small set over an enumeration whose ordinals are below 32; bit n holds the
// member of ordinal n.
template <typename Enum>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<Enum> members) {
        for (Enum m : members) {
            m_bits |= bit(m);
        }
    }
    static constexpr TSet fromBits(std::uint32_t bits) {
        TSet s;
        s.m_bits = bits;
        return s;
    }

    constexpr bool contains(Enum m) const { return (m_bits & bit(m)) != 0; }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr std::uint32_t bits() const { return m_bits; }
    constexpr TSet& include(Enum m) {
        m_bits |= bit(m);
        return *this;
    }
    constexpr TSet& exclude(Enum m) {
        m_bits &= ~bit(m);
        return *this;
    }
    constexpr TSet without(Enum m) const {
        TSet s = *this;
        return s.exclude(m);
    }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr std::uint32_t bit(Enum m) {
        return static_cast<std::uint32_t>(1u) << static_cast<unsigned>(m);
    }
    std::uint32_t m_bits = 0;
};
