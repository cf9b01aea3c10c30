'''org.freedesktop.PowerManagement.Inhibit as desktop power managers offer it.
ListInhibitors() (mock interface) returns the application names held.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.PowerManagement'
MAIN_OBJ = '/org/freedesktop/PowerManagement/Inhibit'
MAIN_IFACE = 'org.freedesktop.PowerManagement.Inhibit'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.inhibitors = {}
    mock.next_cookie = 1


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='u')
def Inhibit(self, application, _reason):
    cookie = self.next_cookie
    self.next_cookie += 1
    self.inhibitors[cookie] = application
    return dbus.UInt32(cookie)


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def UnInhibit(self, cookie):
    self.inhibitors.pop(int(cookie), None)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='b')
def HasInhibit(self):
    return bool(self.inhibitors)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ListInhibitors(self):
    return dbus.Array(sorted(self.inhibitors.values()), signature='s')
