#pragma once

#include <QList>

namespace kvr::video {
class FfmpegPlayer;
} // namespace kvr::video

namespace kvr::view {

// The one place where the screens stop players.
//
// A player that plays on is stopped with stopPlayer: its decode thread has
// ended when the call returns (or the player's bounded wait ran out). Several
// at once go through stopPlayers: all are asked together and their threads
// end side by side, so the GUI thread waits for the slowest of them, never
// for the sum.
//
// Players whose owners go away (a wall changing pages or stopping) are let go
// of with retirePlayers: the GUI thread does not wait at all; each thread ends
// in the background and its player is deleted on the next turn of the loop.
void stopPlayers(const QList<video::FfmpegPlayer*>& players);
void stopPlayer(video::FfmpegPlayer& player);

// Takes the players over: they lose their parent and every connection, are
// asked to stop and are deleted at once; their decode threads end in the
// background. The caller must not touch them afterwards.
void retirePlayers(const QList<video::FfmpegPlayer*>& players);

// Retired players (and other let-go decode threads) that have not ended yet.
int retiringPlayers();

// ---- Test seam -----------------------------------------------------------
// While held, retired players are not stopped yet: a test sees that nothing
// on the GUI thread waits for them.
void holdRetiredPlayers(bool hold);

} // namespace kvr::view
