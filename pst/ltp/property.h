// Property types and the byte form of property values as property and table contexts store them.
//
// A value is either fixed-size (integers, booleans, times, GUIDs) or variable-size (strings,
// binaries, objects, every multi-valued type). Fixed values are kept inline when they fit the
// slot of the structure holding them; everything else lives in the heap or in a sub-node.
//
// Values travel as `PropertyValue`. Types without a natural alternative in that variant
// (PtypObject, multi-valued floats, doubles, currency, GUIDs of unknown layout, types this
// code does not know) are carried as `Bytes` holding their stored form unchanged, so that a
// value read from a store can be written back without loss. PtypString8 text travels as its
// stored bytes (the store's code page), unconverted; PtypString is UTF-8 here, UTF-16LE stored.
#pragma once

#include <cstdint>
#include <string>

#include "pst/bytes.h"
#include "pst/ltp/property_value.h"

namespace mailfold::pst::ltp {

// Columns every table carries at fixed positions: the row id (offset 0, existence bit 0) and
// the row version (offset 4, existence bit 1).
inline constexpr PropTag kTagLtpRowId = 0x67F20003;
inline constexpr PropTag kTagLtpRowVer = 0x67F30003;

// Width in bytes of a fixed-size single-valued type; 0 for variable-size types (strings,
// binaries, objects, multi-valued types, and types unknown to this code, which are kept raw).
std::uint32_t fixedWidth(std::uint16_t type);

// Width of one element of a multi-valued type with fixed-size elements; 0 when the elements
// are variable-size (strings, binaries) or the layout is unknown.
std::uint32_t multiValuedElementWidth(std::uint16_t type);

// The stored form of `value` for a property of type `type`: for fixed types exactly
// fixedWidth(type) bytes, for strings UTF-16LE, for multi-valued types the packed array or
// the count/offsets/items layout. Throws Error when the alternative does not fit the type, or
// for a ByteSource (which callers stream instead).
Bytes encodeValue(std::uint16_t type, const PropertyValue& value);

// The value of a property of type `type` from its stored form. Never trusts `bytes`: sizes
// and offsets are checked, and a malformed value throws Error.
PropertyValue decodeValue(std::uint16_t type, ByteView bytes);

// The value a variable-size property has when its reference is empty (HNID 0).
PropertyValue emptyValue(std::uint16_t type);

// "0x0037001F", for error messages.
std::string tagName(PropTag tag);

}  // namespace mailfold::pst::ltp
