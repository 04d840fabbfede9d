#pragma once

// How the native live view stops its players.

class FfmpegPlayer;

namespace PlayerControl {

// Asks the player's decode thread to end and returns without waiting for it.
// A page or a wall asks all its players first and waits for them after, so
// their threads wind down side by side.
void requestStop(FfmpegPlayer& player);

} // namespace PlayerControl
