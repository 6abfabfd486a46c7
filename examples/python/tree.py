#!/usr/bin/env python3
"""Prints the PCI Express hierarchy as the library's parent links see it,
with the width and speed of each function's link:

    python3 tree.py [--driver sim|sysfs|PATH]

From the build tree: PYTHONPATH=build/python python3 examples/python/tree.py
"""
import argparse

import qorb


def describe(device):
    text = f"{device.slot} {device.vendor_id:04x}:{device.device_id:04x}"
    try:
        pcie = device.pcie()
    except qorb.Error:
        return text + " (conventional PCI)"
    text += f" {pcie['port_type_name']}"
    link = pcie["link"]
    if link["has_link"]:
        text += f", link x{link['width']} {link['speed']} (of x{link['max_width']} {link['max_speed']})"
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", default=None, help="sim, sysfs or a driver's path")
    args = parser.parse_args()
    with qorb.open(args.driver) as platform:
        for device, depth in platform.tree():
            print("  " * depth + describe(device))


if __name__ == "__main__":
    main()
