#pragma once
#include <QIcon>

// The program icon (scalable, with a 64-pixel bitmap), from the shell's resources.
QIcon StravexIcon();
