#include "usb/usbutils.h"

#include <usb.h>

const unsigned char switch_cmd1[31] = {};
const unsigned char switch_cmd2_tmp_ftm[31] = {};
const unsigned char switch_cmd2_prm_usr[31] = {};
const unsigned char switch_cmd2_tmp_usr_adb[31] = {};
const usb_switch_cmd switch_cmd_table[3] = {{switch_cmd2_tmp_ftm, 31}, {switch_cmd2_prm_usr, 31}, {switch_cmd2_tmp_usr_adb, 31}};
unsigned char read_buf[16];

int do_init_utils() { usb_init(); return -1; }
int do_enum_devices() { return 0; }
int do_find_device(int, int) { return 0; }
int do_find_device2(int, int) { return 0; }
struct usb_device* find_device(int, int) { return nullptr; }
int try_to_claim(int, int) { return -1; }
int usb_mode_switch_factory(int, int, uint32_t) { return -1; }
