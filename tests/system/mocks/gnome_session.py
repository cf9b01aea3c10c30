'''org.gnome.SessionManager's inhibitors as gnome-session keeps them.
ListInhibitors() (mock interface) returns "application/flags" for each held.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.inhibitors = {}
    mock.next_cookie = 1


@dbus.service.method(MAIN_IFACE, in_signature='susu', out_signature='u')
def Inhibit(self, app_id, _toplevel_xid, _reason, flags):
    cookie = self.next_cookie
    self.next_cookie += 1
    self.inhibitors[cookie] = '%s/%d' % (app_id, flags)
    return dbus.UInt32(cookie)


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def Uninhibit(self, cookie):
    self.inhibitors.pop(int(cookie), None)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ListInhibitors(self):
    return dbus.Array(sorted(self.inhibitors.values()), signature='s')
