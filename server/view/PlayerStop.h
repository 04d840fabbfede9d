#pragma once

#include <QList>

class FfmpegPlayer;

// The one place where the screens stop players.
//
// A player that plays on is stopped with stopPlayer: its decode thread has
// ended when the call returns. Several at once go through stopPlayers: all
// are asked together and their threads end side by side, so the GUI thread
// waits for the slowest of them, never for the sum.
//
// Players whose owners go away (a wall changing pages or stopping) are let go
// of with retirePlayers: the GUI thread does not wait at all; each thread ends
// in the background and its player is deleted afterwards.
void stopPlayers(const QList<FfmpegPlayer*>& players);
void stopPlayer(FfmpegPlayer& player);

// Call once for each player that may later be retired: it follows the
// player's reconnect notices, so that retirePlayers knows when a restart of
// the player may be pending on the GUI thread (such a player is stopped at
// once instead, which costs nothing while it waits to reconnect).
void watchPlayer(FfmpegPlayer& player);

// Takes the players over: they lose their parent and every connection, stop
// emitting, and are deleted once their decode threads have ended. The caller
// must not touch them afterwards.
void retirePlayers(const QList<FfmpegPlayer*>& players);

// Retired players whose threads have not ended yet.
int retiringPlayers();

// ---- Test seam -----------------------------------------------------------
// While held, retired players are not stopped yet: a test sees that nothing
// on the GUI thread waits for them.
void holdRetiredPlayers(bool hold);
