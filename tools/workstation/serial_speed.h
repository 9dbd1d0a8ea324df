#pragma once
// Line speeds of an open terminal.
namespace perimo::workstation {

// Sets both speeds to baud: a termios constant where one exists, else the kernel's termios2
// interface, which takes any number. False when the driver refuses the rate.
bool SetLineSpeed(int fd, int baud);

}  // namespace perimo::workstation
