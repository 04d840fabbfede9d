#pragma once

#include "video/StreamInput.h"
#include "video/TlsTunnel.h"

#include <memory>

struct AVFormatContext;
struct AVIOContext;

namespace kvr::video {

struct Playback;

// The input of one playback: the demuxer's context, the secure tunnel of an
// RTSPS camera, and the byte sources through which the demuxer reads
// playlists, segments and files (the FFmpeg I/O hooks). Decode thread only.
class PlayerInput {
public:
    explicit PlayerInput(Playback& playback);
    ~PlayerInput();
    PlayerInput(const PlayerInput&) = delete;
    PlayerInput& operator=(const PlayerInput&) = delete;

    // Opens the playback's address; a camera gets its number of attempts.
    // False when it did not open: the playback's failure says why, unless it
    // was stopped.
    bool open();
    // Closes the input. A camera's session is given kBoundedClose at most
    // when the playback's options ask for that; a stop ends the wait at once.
    void close();

    AVFormatContext* context() const { return m_ctx; }
    InputKind kind() const { return m_kind; }

private:
    Playback& p;
    InputKind m_kind = InputKind::OtherHls;
    bool m_rtsps = false;
    std::unique_ptr<TlsTunnel> m_tunnel;
    AVFormatContext* m_ctx = nullptr;
    AVIOContext* m_mainIo = nullptr; // the top-level input of the HLS kinds
};

} // namespace kvr::video
