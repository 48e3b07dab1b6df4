#include "tools/notice-pack/volume_builder.h"

#include "tools/notice-pack/checksum.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {
namespace {

Bytes BuildVolumeHeader(size_t length, const VolumeOptions &options) {
  Bytes header(kVolumeHeaderSize, 0);
  std::copy(kFfs2FileSystemGuid.Bytes.begin(), kFfs2FileSystemGuid.Bytes.end(), header.begin() + 16);
  PutLe(header, kVolumeLengthOffset, length, 8);
  PutLe(header, kVolumeSignatureOffset, kVolumeSignature, 4);
  PutLe(header, kVolumeAttributesOffset, options.Attributes, 4);
  PutLe(header, kVolumeHeaderLengthOffset, kVolumeHeaderSize, 2);
  header[kVolumeRevisionOffset] = kVolumeRevision;
  PutLe(header, kVolumeBlockMapOffset, length / options.BlockSize, 4);
  PutLe(header, kVolumeBlockMapOffset + 4, options.BlockSize, 4);
  // The terminating {0, 0} entry is already zero.
  PutLe(header, kVolumeChecksumOffset, Checksum16(header), 2);
  return header;
}

}  // namespace

Bytes BuildVolume(const std::vector<Bytes> &files, const VolumeOptions &options) {
  if ((options.Attributes & kVolumeAttributeErasePolarity) == 0) {
    throw PackError("files are written for erase polarity 1; the attributes must keep it");
  }
  if (options.BlockSize == 0 || options.BlockSize % kFileAlignment != 0) {
    throw PackError("the block size must be a non-zero multiple of 8");
  }
  Bytes body(kVolumeHeaderSize, kErasedByte);
  for (const Bytes &file : files) {
    PadTo(body, kFileAlignment, kErasedByte);
    Append(body, file);
  }
  const size_t used = body.size();
  const size_t length = options.Length != 0 ? options.Length : AlignUp(used, options.BlockSize);
  if (length % options.BlockSize != 0) throw PackError("the volume length is not a whole number of blocks");
  if (length < used) {
    throw PackError("the files need " + std::to_string(used) + " bytes; the volume holds " + std::to_string(length));
  }
  if (length / options.BlockSize > UINT32_MAX) throw PackError("too many blocks for the block map");
  body.resize(length, kErasedByte);
  const Bytes header = BuildVolumeHeader(length, options);
  std::copy(header.begin(), header.end(), body.begin());
  return body;
}

}  // namespace notice_pack
