// Identity records, unit serial number pages and SG_IO outcomes from
// arbitrary bytes.
#include <scsi/sg.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "disk_probes.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Identity record: the input, zero-padded or cut to 512 bytes.
  std::unique_ptr<unsigned char[]> identity(new unsigned char[kolvex::kIdentitySize]());
  std::memcpy(identity.get(), data, size < kolvex::kIdentitySize ? size : kolvex::kIdentitySize);
  std::unique_ptr<char[]> serial(new char[21]);
  kolvex::SerialFromIdentity(identity.get(), serial.get());
  KOLVEX_FUZZ_CHECK(strnlen(serial.get(), 21) <= 20);

  // Unit serial number page of exactly the input's size (at most a transfer).
  const size_t pageSize = size < kolvex::kInquiryDataSize ? size : kolvex::kInquiryDataSize;
  std::unique_ptr<unsigned char[]> page(new unsigned char[pageSize ? pageSize : 1]);
  if (pageSize) std::memcpy(page.get(), data, pageSize);
  std::unique_ptr<char[]> pageSerial(new char[252]);
  kolvex::SerialFromUnitSerialPage(page.get(), pageSize, pageSerial.get());
  const size_t serialLength = strnlen(pageSerial.get(), 252);
  KOLVEX_FUZZ_CHECK(serialLength <= 251);
  KOLVEX_FUZZ_CHECK(pageSize < 4 || serialLength <= page[3]);

  // An sg_io_hdr with the answer fields taken from the input.
  sg_io_hdr_t header{};
  const size_t n = size < 8 ? size : 8;
  unsigned char f[8] = {0};
  std::memcpy(f, data, n);
  header.info = f[0];
  header.sb_len_wr = f[1];
  header.status = f[2];
  header.masked_status = f[3];
  header.host_status = static_cast<unsigned short>(f[4] | f[5] << 8);
  header.driver_status = static_cast<unsigned short>(f[6] | f[7] << 8);
  const kolvex::SgOutcome outcome = kolvex::DecodeSgOutcome(header);
  KOLVEX_FUZZ_CHECK(outcome.result == 0 || outcome.result == -2 || outcome.result == -3 ||
                    outcome.result == -4);
  KOLVEX_FUZZ_CHECK(strnlen(outcome.report, sizeof outcome.report) < sizeof outcome.report);
  KOLVEX_FUZZ_CHECK((outcome.senseLength != 0) ==
                    ((header.info & SG_INFO_CHECK) && header.sb_len_wr));
  return 0;
}
