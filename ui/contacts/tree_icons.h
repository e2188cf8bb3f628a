// The ten 16-pixel images of the contact tree, drawn at run time: 0 two persons (group nodes),
// 1 grey disc (Offline), 2 green disc (Online), 3 red bar sign (Busy), 4 clock (Away), 5 clock
// (Right Back), 6 red bar sign (On Phone), 7 clock (Lunch), 8 grey disc (Appear Offline), 9 empty.
#pragma once
#include <QIcon>

constexpr int kTreeImageCount = 10;
QIcon tree_image(int index);
