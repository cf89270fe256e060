#pragma once
// File dialog filters written as "Text files (*.txt)|*.txt|All files (*.*)|*.*"
// (description, patterns, ...) in Qt's form, one entry per description.
#include <QStringList>

#include <string>

// "*.*" becomes "*": on this system it must also match names without a dot.
QStringList QtFilterList(const std::string& pipeFilter);
