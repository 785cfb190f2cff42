#pragma once

#include "detection/property_list.h"

// The two encodings behind PropertyList::parse; both assume the size limit was already checked.
namespace propertylist {

// Reasons in our own words, shared by both readers.
inline const char* const kNotAList = "the data is not a binary or XML property list";
inline const char* const kTooDeep = "the data nests more than 512 levels deep";
inline const char* const kTooManyValues = "the data holds more than 4096 values";
inline const char* const kNulInKey = "a dictionary key holds a NUL character";

std::optional<PropertyList> readBinary(const QByteArray& data, QString* error);
std::optional<PropertyList> readXml(const QByteArray& data, QString* error);

}  // namespace propertylist
