#!/usr/bin/python3
# A stand-in for udisks2 on a private test bus: the ObjectManager with three
# block devices and their drives, and Block.OpenDevice handing over a
# descriptor of a file that stands in for a card.
#
#   udisks_standin.py BUS_ADDRESS CARD_FILE
#
# Devices: CARD_FILE itself (a removable card; OpenDevice opens the file with
# the mode asked), /dev/kxsystem (a fixed disk), /dev/kxhidden (HintIgnore),
# /dev/kxwritable (always hands out a read-write descriptor, which a client
# must refuse), /dev/kxdenied (refuses as polkit would when the user says
# no). org.kestrix.Test.Modes() returns every mode OpenDevice was asked for.
# Prints "ready" once the name is owned.
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BLOCK = "org.freedesktop.UDisks2.Block"
DRIVE = "org.freedesktop.UDisks2.Drive"
ROOT = "/org/freedesktop/UDisks2"

address, card = sys.argv[1], sys.argv[2]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)
modes = []


def device_bytes(path):
    return dbus.ByteArray(path.encode() + b"\0")


def block(path, size, drive, ignore=False):
    return {BLOCK: {"Device": device_bytes(path), "PreferredDevice": device_bytes(path),
                    "Size": dbus.UInt64(size), "Drive": dbus.ObjectPath(drive),
                    "HintIgnore": dbus.Boolean(ignore), "ReadOnly": dbus.Boolean(False)}}


def drive(vendor, model, removable):
    return {DRIVE: {"Vendor": vendor, "Model": model, "Removable": dbus.Boolean(removable),
                    "MediaRemovable": dbus.Boolean(removable), "Optical": dbus.Boolean(False)}}


OBJECTS = {
    ROOT + "/drives/card": drive("Kestrix", "TestCard", True),
    ROOT + "/drives/system": drive("", "SYSTEM SSD", False),
    ROOT + "/block_devices/card": block(card, os.path.getsize(card), ROOT + "/drives/card"),
    ROOT + "/block_devices/system": block("/dev/kxsystem", 256 << 30, ROOT + "/drives/system"),
    ROOT + "/block_devices/hidden": block("/dev/kxhidden", 1 << 20, "/", ignore=True),
    ROOT + "/block_devices/writable": block("/dev/kxwritable", 1 << 20, ROOT + "/drives/card"),
    ROOT + "/block_devices/denied": block("/dev/kxdenied", 1 << 20, ROOT + "/drives/card"),
}


class Manager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return dbus.Dictionary(OBJECTS, signature="oa{sa{sv}}")

    @dbus.service.method("org.kestrix.Test", out_signature="as")
    def Modes(self):
        return dbus.Array(modes, signature="s")


class Block(dbus.service.Object):
    def __init__(self, path, name):
        super().__init__(bus, path)
        self.name = name

    @dbus.service.method(BLOCK, in_signature="sa{sv}", out_signature="h")
    def OpenDevice(self, mode, options):
        modes.append(str(mode))
        if self.name == "denied":
            raise dbus.exceptions.DBusException(
                "Not authorized to perform operation",
                name="org.freedesktop.UDisks2.Error.NotAuthorizedDismissed")
        if self.name == "writable":
            fd = os.open(card, os.O_RDWR)
        else:
            fd = os.open(card, os.O_RDONLY if mode == "r" else os.O_RDWR)
        handed = dbus.types.UnixFd(fd)  # keeps a copy of its own
        os.close(fd)
        return handed


name = dbus.service.BusName("org.freedesktop.UDisks2", bus)
manager = Manager(bus, ROOT)
blocks = [Block(path, path.rsplit("/", 1)[1]) for path in OBJECTS if "/block_devices/" in path]
print("ready", flush=True)
GLib.MainLoop().run()
