// Byte builders for the UDF 1.02 descriptors: tags, timestamps, regids and
// every descriptor the volume writer records. Each builder fills a buffer
// (zeroed by the caller) and finishes the tag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/sector_io.h"
#include "platform/platform.h"

namespace varn {

// Tag identifiers of ECMA-167.
enum UdfTagId : uint16_t {
  kUdfPrimaryVd = 1,
  kUdfAnchor = 2,
  kUdfImplUseVd = 4,
  kUdfPartitionDesc = 5,
  kUdfLogicalVd = 6,
  kUdfUnallocatedSpace = 7,
  kUdfTerminating = 8,
  kUdfIntegrity = 9,
  kUdfFileSet = 256,
  kUdfFileIdentifier = 257,
  kUdfFileEntry = 261,
  kUdfExtAttrHeader = 262,
};

// Implementation identifier of the system.
inline const char* kUdfImplementationId = "*Varn AUDIO";

// Largest extent of one short_ad: a whole number of blocks below 2^30.
constexpr uint32_t kUdfMaxExtentBytes = 0x3FFFF800u;

// Tag at p: identifier, version 2, serial 0, CRC over the `crc_length`
// bytes after the tag, location, checksum.
void udf_finish_tag(uint8_t* p, uint16_t id, uint32_t location, uint16_t crc_length);

// 12-byte timestamp of a volume time (UTC).
void udf_put_timestamp(uint8_t* p, const CivilTime& t);

// 32-byte regid: flags, identifier (zero-padded to 23 bytes), suffix.
void udf_put_regid(uint8_t* p, const char* identifier, const uint8_t* suffix = nullptr,
                   size_t suffix_length = 0, uint8_t flags = 0);
void udf_put_domain_id(uint8_t* p);
void udf_put_udf_regid(uint8_t* p, const char* identifier);  // suffix: UDF revision 0x0102

// 64-byte charspec CS0 "OSTA Compressed Unicode".
void udf_put_charspec(uint8_t* p);

// long_ad {length, block, partition 0}.
void udf_put_long_ad(uint8_t* p, uint32_t length, uint32_t block);

// Everything the descriptors of one volume share.
struct UdfVolumeFacts {
  CivilTime time;
  uint32_t time_low = 0;          // low 32 bits of the volume time
  std::string name;               // volume name
  uint32_t partition_start = 0;   // P
  uint32_t partition_length = 0;  // L
  uint32_t base = 0;              // B: partition block of the File Set Descriptor
  uint32_t file_count = 0;        // for the integrity descriptor
  uint32_t directory_count = 0;
};

// The six descriptors of a volume descriptor sequence at first_lsn ..
// first_lsn + 5, in a buffer of 16 sectors.
std::vector<uint8_t> udf_volume_descriptor_sequence(const UdfVolumeFacts& v, uint32_t first_lsn);

void udf_make_integrity(uint8_t* sector, const UdfVolumeFacts& v, uint32_t lsn);
void udf_make_terminating(uint8_t* sector, uint32_t location);
void udf_make_anchor(uint8_t* sector, uint32_t lsn);
void udf_make_file_set(uint8_t* sector, const UdfVolumeFacts& v);

// One File Entry block. `extents` are {length, partition block} pairs
// recorded as short_ads.
struct UdfShortAd {
  uint32_t length = 0;
  uint32_t position = 0;
};
struct UdfFileEntryFields {
  bool directory = false;
  uint16_t link_count = 1;
  uint64_t information_length = 0;
  uint64_t unique_id = 0;
  std::vector<UdfShortAd> extents;
};
// Most short_ads one File Entry block holds.
constexpr size_t kUdfMaxShortAds = (kSectorSize - 308) / 8;
void udf_make_file_entry(uint8_t* block, const UdfFileEntryFields& fe, const CivilTime& t,
                         uint32_t location);

// Splits a data extent into short_ads of at most kUdfMaxExtentBytes on
// consecutive blocks (one empty short_ad for no data).
std::vector<UdfShortAd> udf_split_extent(uint64_t length, uint32_t first_block);
inline uint64_t udf_extent_count(uint64_t length) {
  return length == 0 ? 1 : (length + kUdfMaxExtentBytes - 1) / kUdfMaxExtentBytes;
}

// Length of a File Identifier Descriptor for a name as udf_identifier
// stores it (an empty name: the parent entry).
uint32_t udf_fid_length(const std::string& name);

// Appends one File Identifier Descriptor to the data of a directory whose
// first partition block is `data_block`; its tag carries the block that
// holds its first byte.
void udf_append_fid(std::vector<uint8_t>& data, uint8_t characteristics, const std::string& name,
                    uint32_t icb_block, uint32_t data_block);

}  // namespace varn
