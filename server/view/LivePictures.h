#pragma once

namespace kvr::view {

// How many live pictures this program shows now, camera tiles and the stage
// together. The server counts the streams it holds open, which says nothing
// of whether their pictures reach anyone: a wall whose relay turns every
// stream away holds them all. GUI thread only.
namespace LivePictures {

int count();

// Held by a view: counted while it is set (a live picture shows), and no
// longer once it is cleared or the view goes.
class Mark {
public:
    Mark() = default;
    Mark(const Mark&) = delete;
    Mark& operator=(const Mark&) = delete;
    ~Mark() { set(false); }

    void set(bool showing);
    bool isSet() const { return m_set; }

private:
    bool m_set = false;
};

} // namespace LivePictures

} // namespace kvr::view
