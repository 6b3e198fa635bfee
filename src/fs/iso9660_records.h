// Byte builders for the ISO 9660 directory records and path table records,
// and the identifiers they carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varn {

constexpr uint8_t kIsoFlagDirectory = 0x02;
constexpr uint8_t kIsoFlagMultiExtent = 0x80;

// Largest extent of one directory record: a whole number of sectors that a
// 32-bit data length can hold.
constexpr uint32_t kIsoMaxExtentBytes = 0xFFFFF800u;

// Longest identifier a directory record can hold (33 + 222 = 255).
constexpr size_t kIsoMaxIdentifier = 222;

// Upper-cases a..z only; every other byte (UTF-8 sequences too) stays.
std::string iso_upper(const std::string& s);

// "NAME;1" for a file, "NAME" for a directory.
std::string iso_file_identifier(const std::string& name);
std::string iso_directory_identifier(const std::string& name);

// The 7-byte recording date of a directory record (UTC, offset 0).
struct IsoRecordDate {
  uint8_t bytes[7] = {};
};
IsoRecordDate iso_record_date(const CivilTime& t);

// Length of a directory record holding an identifier of n bytes.
inline uint32_t iso_record_length(size_t identifier_length) {
  uint32_t len = 33 + uint32_t(identifier_length);
  return (len + 1) & ~1u;
}

// One directory record.
std::vector<uint8_t> iso_directory_record(const std::string& identifier, uint32_t extent,
                                          uint32_t data_length, uint8_t flags,
                                          const IsoRecordDate& date);

// Length of a path table record holding an identifier of n bytes.
inline uint32_t iso_path_record_length(size_t identifier_length) {
  return 8 + uint32_t(identifier_length) + uint32_t(identifier_length % 2);
}

// One path table record, little-endian (L table) or big-endian (M table).
std::vector<uint8_t> iso_path_table_record(const std::string& identifier, uint32_t extent,
                                           uint16_t parent_number, bool big_endian);

// One extent of a file as its directory records describe it.
struct IsoExtent {
  uint32_t lsn = 0;
  uint32_t length = 0;
  uint8_t flags = 0;
};

// Splits a file into extents of at most kIsoMaxExtentBytes on consecutive
// sectors; every extent but the last carries the multi-extent flag. A file
// of 0 bytes has one empty extent.
std::vector<IsoExtent> iso_file_extents(uint32_t lsn, uint64_t size);

// Number of directory records a file of `size` bytes takes.
uint64_t iso_extent_count(uint64_t size);

}  // namespace varn
