/*
 * Records the raw answers of a disk to the two kernel requests the disk
 * serial chain relies on, so that unit tests can replay what a real kernel
 * returned on the emulated machines.
 *
 *   kolvex-e2e-capture identity DEVICE   HDIO_GET_IDENTITY, 512 bytes
 *   kolvex-e2e-capture vpd80 DEVICE      SG_IO INQUIRY, EVPD page 0x80, 255 bytes
 *
 * Output: '#' comment lines carrying the request outcome as "key: value",
 * then the returned bytes as "OFFSET  xx xx ..." lines of 16 bytes each.
 * Exit status 0 when the request was issued (whatever the device answered),
 * 1 when the device could not be opened or the request itself failed.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static void dump_hex(const char* label, const unsigned char* p, size_t n) {
  printf("# %s (%zu bytes)\n", label, n);
  for (size_t off = 0; off < n; off += 16) {
    printf("%04zx ", off);
    for (size_t i = off; i < off + 16 && i < n; ++i) printf(" %02x", p[i]);
    putchar('\n');
  }
}

static int capture_identity(const char* dev) {
  int fd = open(dev, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    printf("# open %s: %s\n", dev, strerror(errno));
    return 1;
  }
  unsigned char id[512];
  memset(id, 0, sizeof id);
  int rc = ioctl(fd, HDIO_GET_IDENTITY, id);
  int err = errno;
  close(fd);
  printf("# request: HDIO_GET_IDENTITY on %s\n", dev);
  if (rc != 0) {
    printf("# result: -1 errno %d (%s)\n", err, strerror(err));
    return 1;
  }
  printf("# result: 0\n");
  printf("# serial_no (bytes 20..39): \"%.20s\"\n", (const char*)id + 20);
  dump_hex("identity record", id, sizeof id);
  return 0;
}

static int capture_vpd80(const char* dev) {
  int fd = open(dev, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    printf("# open %s: %s\n", dev, strerror(errno));
    return 1;
  }
  int version = 0;
  if (ioctl(fd, SG_GET_VERSION_NUM, &version) != 0) {
    printf("# SG_GET_VERSION_NUM on %s: %s\n", dev, strerror(errno));
    close(fd);
    return 1;
  }
  unsigned char cdb[6] = {0x12, 0x01, 0x80, 0x00, 0xff, 0x00};
  unsigned char data[255];
  unsigned char sense[32];
  memset(data, 0, sizeof data);
  memset(sense, 0, sizeof sense);
  sg_io_hdr_t h;
  memset(&h, 0, sizeof h);
  h.interface_id = 'S';
  h.dxfer_direction = SG_DXFER_FROM_DEV;
  h.cmd_len = sizeof cdb;
  h.mx_sb_len = sizeof sense;
  h.dxfer_len = sizeof data;
  h.dxferp = data;
  h.cmdp = cdb;
  h.sbp = sense;
  /* Generous on purpose: a slow emulated disk must not turn into a time-out
     that the collector's own request would not see. */
  h.timeout = 5000;
  int rc = ioctl(fd, SG_IO, &h);
  int err = errno;
  close(fd);
  printf("# request: SG_IO INQUIRY EVPD page 0x80, allocation length 255, on %s\n", dev);
  printf("# sg driver version: %d\n", version);
  if (rc != 0) {
    printf("# result: -1 errno %d (%s)\n", err, strerror(err));
    return 1;
  }
  printf("# result: 0\n");
  printf("# info: 0x%x\n", h.info);
  printf("# status: 0x%x\n", h.status);
  printf("# masked_status: 0x%x\n", h.masked_status);
  printf("# host_status: 0x%x\n", h.host_status);
  printf("# driver_status: 0x%x\n", h.driver_status);
  printf("# sb_len_wr: %d\n", h.sb_len_wr);
  printf("# resid: %d\n", h.resid);
  if (h.sb_len_wr > 0) dump_hex("sense data", sense, h.sb_len_wr);
  dump_hex("data buffer", data, sizeof data);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s identity|vpd80 DEVICE\n", argv[0]);
    return 2;
  }
  if (strcmp(argv[1], "identity") == 0) return capture_identity(argv[2]);
  if (strcmp(argv[1], "vpd80") == 0) return capture_vpd80(argv[2]);
  fprintf(stderr, "unknown request %s\n", argv[1]);
  return 2;
}
