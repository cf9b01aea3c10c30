'''logind as the stock dbusmock template has it, plus what Somnara's tests need:
the manager's LidClosed property (set it with org.freedesktop.DBus.Properties.Set,
which emits PropertiesChanged as logind does) and inhibitor refusals as polkit
gives them (SetRefusedInhibitors(["handle-lid-switch"]) makes Inhibit fail for
any lock that names one of them).'''

import dbus

from dbusmock import MOCK_IFACE
from dbusmock.templates import logind as base
from dbusmock.templates.logind import (  # noqa: F401  (picked up as D-Bus methods)
    AddSeat, AddSession, AddUser, ListInhibitors, ListSessions, ListUsers)

BUS_NAME = base.BUS_NAME
MAIN_OBJ = base.MAIN_OBJ
MAIN_IFACE = base.MAIN_IFACE
SYSTEM_BUS = True


def load(mock, parameters):
    base.load(mock, parameters)
    mock.props[MAIN_IFACE]['LidClosed'] = dbus.Boolean(parameters.get('LidClosed', False))
    mock.refused_inhibitors = set()


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h')
def Inhibit(self, what, who, why, mode):
    if set(what.split(':')) & self.refused_inhibitors:
        raise dbus.exceptions.DBusException('Permission denied',
                                            name='org.freedesktop.DBus.Error.AccessDenied')
    return base.Inhibit(self, what, who, why, mode)


@dbus.service.method(MOCK_IFACE, in_signature='as', out_signature='')
def SetRefusedInhibitors(self, whats):
    self.refused_inhibitors = set(whats)
