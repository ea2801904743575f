#!/usr/bin/env bash
# Runs a test program so that it can put a file size limit on itself (FileSizeLimit in
# ProgressWindowTest.cpp): SIGXFSZ is ignored, so a write past the limit fails with EFBIG
# instead of ending the process (an ignored signal stays ignored across exec), and the Linux
# process id, which exec keeps and which Wine does not tell the program, is handed down.
trap '' XFSZ
export KORVANE_UNIX_PID=$$
exec "$@"
