#pragma once

#include <QList>

class FfmpegPlayer;

// The one place where the screens stop players. Stopping a player ends its
// decode thread; a wall stops many at once, and ending them one after the
// other on the GUI thread would add their waits up. Here every player is
// asked to stop at the same moment and the threads end side by side, so the
// GUI thread waits only as long as the slowest of them.
//
// Each call returns with every given player stopped: the owner may play it
// again or delete it at once.
void stopPlayers(const QList<FfmpegPlayer*>& players);

// One player; the same as stopPlayers with a list of one.
void stopPlayer(FfmpegPlayer& player);
