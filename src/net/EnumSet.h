#pragma once

#include <cstdint>
#include <initializer_list>

namespace vandrel::net {

// A small set over an enumeration whose ordinals are below 32; bit n holds the
// member of ordinal n.
template <typename Enum>
class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<Enum> members) {
        for (Enum m : members) {
            m_bits |= bit(m);
        }
    }
    static constexpr EnumSet FromBits(std::uint32_t bits) {
        EnumSet s;
        s.m_bits = bits;
        return s;
    }

    constexpr bool Contains(Enum m) const { return (m_bits & bit(m)) != 0; }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr std::uint32_t Bits() const { return m_bits; }
    constexpr EnumSet& Include(Enum m) {
        m_bits |= bit(m);
        return *this;
    }
    constexpr EnumSet& Exclude(Enum m) {
        m_bits &= ~bit(m);
        return *this;
    }
    constexpr EnumSet Without(Enum m) const {
        EnumSet s = *this;
        return s.Exclude(m);
    }
    constexpr bool operator==(const EnumSet&) const = default;

private:
    static constexpr std::uint32_t bit(Enum m) {
        return static_cast<std::uint32_t>(1u) << static_cast<unsigned>(m);
    }
    std::uint32_t m_bits = 0;
};

}  // namespace vandrel::net
