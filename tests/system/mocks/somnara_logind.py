'''logind as the stock dbusmock template has it, plus what Somnara's tests need:
the manager's LidClosed property (set it with org.freedesktop.DBus.Properties.Set,
which emits PropertiesChanged as logind does), inhibitor refusals as polkit
gives them (SetRefusedInhibitors(["handle-lid-switch"]) makes Inhibit fail for
any lock that names one of them), and ListInhibitors as logind answers it:
the locks taken through the mock with their caller's uid and pid, plus, with
the parameter "ForeignInhibitor": true, a fixed sleep lock of another program
(pid 4242). Like logind, the mock announces BlockInhibited or DelayInhibited
(PropertiesChanged on the manager) each time a lock is taken or dropped.'''

import os

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE
from dbusmock.templates import logind as base
from dbusmock.templates.logind import (  # noqa: F401  (picked up as D-Bus methods)
    AddSeat, AddSession, AddUser, ListSessions, ListUsers)

BUS_NAME = base.BUS_NAME
MAIN_OBJ = base.MAIN_OBJ
MAIN_IFACE = base.MAIN_IFACE
SYSTEM_BUS = True
FOREIGN = ('sleep', 'Backup Tool', 'Copying files', 'block', 1000, 4242)


def load(mock, parameters):
    base.load(mock, parameters)
    mock.props[MAIN_IFACE]['LidClosed'] = dbus.Boolean(parameters.get('LidClosed', False))
    mock.refused_inhibitors = set()
    mock.held = [FOREIGN] if parameters.get('ForeignInhibitor', False) else []
    for prop in ('BlockInhibited', 'DelayInhibited'):
        mock.props[MAIN_IFACE][prop] = dbus.String('')


def announce(mock, mode):
    prop = 'DelayInhibited' if mode == 'delay' else 'BlockInhibited'
    value = ':'.join(sorted({w for what, _, _, m, _, _ in mock.held if (m == 'delay') == (mode == 'delay')
                             for w in what.split(':')}))
    mock.props[MAIN_IFACE][prop] = dbus.String(value)
    mock.EmitSignal('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as',
                    [MAIN_IFACE, {prop: dbus.String(value, variant_level=1)}, dbus.Array([], 's')])


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h', sender_keyword='sender')
def Inhibit(self, what, who, why, mode, sender=None):
    if set(what.split(':')) & self.refused_inhibitors:
        raise dbus.exceptions.DBusException('Permission denied',
                                            name='org.freedesktop.DBus.Error.AccessDenied')
    bus = self.connection
    pid = bus.call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                            'GetConnectionUnixProcessID', 's', (sender,))
    uid = bus.call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                            'GetConnectionUnixUser', 's', (sender,))
    lock = (what, who, why, mode, int(uid), int(pid))
    self.held.append(lock)
    fd_r, fd_w = os.pipe()

    def dropped(fd, _cond):
        os.close(fd)
        self.held.remove(lock)
        announce(self, mode)
        return False

    GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, fd_r, GLib.IO_HUP, dropped)
    GLib.idle_add(os.close, fd_w)
    announce(self, mode)
    return fd_w


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ssssuu)')
def ListInhibitors(self):
    return dbus.Array(self.held, signature='(ssssuu)')


@dbus.service.method(MOCK_IFACE, in_signature='as', out_signature='')
def SetRefusedInhibitors(self, whats):
    self.refused_inhibitors = set(whats)
