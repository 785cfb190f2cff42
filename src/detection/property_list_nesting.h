#pragma once

#include <QByteArray>

// Whether the containers of a binary or XML property list nest no deeper than `maxDepth`, read
// without building the list. The property-list library parses and frees recursively, so a list
// nested a few ten thousand levels deep would overflow the stack; such bytes are turned away first.
// Bytes that are not a well-formed binary list, and binary lists with reference cycles, count as
// too deep. XML is judged by its element nesting alone.
bool propertyListNestingWithin(const QByteArray& data, int maxDepth);
