#!/bin/sh
# Mounts or unmounts the two small drives of the crash-safety tests: a 1 MB
# one that a test fills up, and a read-only one. Mounting needs root, as the
# test command has on the machines it runs on.
set -e
action=$1 small=$2 readonly=$3
case "$action" in
  mount)
    mkdir -p "$small" "$readonly"
    mountpoint -q "$small" || mount -t tmpfs -o size=1m arkivanto-small "$small"
    mountpoint -q "$readonly" || mount -t tmpfs -o size=64k,ro arkivanto-readonly "$readonly"
    ;;
  unmount)
    umount "$small" "$readonly"
    ;;
esac
