#pragma once

namespace vandrel::net {

// A part that its owner creates with new and that anyone may destroy: the owner, a hook of
// the part's own, a deferred FreeLater. When it goes it clears the owner's pointer to it, so
// the owner never touches a freed part; an owner that finds its pointer empty knows the part
// is gone. The owner destroys the part it still holds with Destroy.
template <typename Part>
class OwnedPart final : public Part {
public:
    // Creates the part and points the owner's slot at it.
    static Part* Create(Part*& slot) { return slot = new OwnedPart(slot); }
    // Destroys the part the slot holds, if any; the slot is empty afterwards.
    static void Destroy(Part*& slot) {
        if (auto* part = static_cast<OwnedPart*>(slot)) {
            slot = nullptr;
            part->m_slot = nullptr;
            delete part;
        }
    }
    ~OwnedPart() override {
        if (m_slot) {
            *m_slot = nullptr;
        }
    }

private:
    explicit OwnedPart(Part*& slot) : m_slot(&slot) {}
    Part** m_slot;
};

}  // namespace vandrel::net
