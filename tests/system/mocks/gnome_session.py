'''org.gnome.SessionManager's inhibitors as gnome-session keeps them: each
one an object /org/gnome/SessionManager/Inhibitor<cookie> with
org.gnome.SessionManager.Inhibitor's GetAppId, GetReason and GetFlags,
listed by GetInhibitors and announced by InhibitorAdded/InhibitorRemoved.
ListInhibitors() (mock interface) returns "application/flags" for each held.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
INHIBITOR_IFACE = 'org.gnome.SessionManager.Inhibitor'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.inhibitors = {}
    mock.next_cookie = 1


def path_of(cookie):
    return '/org/gnome/SessionManager/Inhibitor%d' % cookie


@dbus.service.method(MAIN_IFACE, in_signature='susu', out_signature='u')
def Inhibit(self, app_id, _toplevel_xid, reason, flags):
    cookie = self.next_cookie
    self.next_cookie += 1
    self.inhibitors[cookie] = '%s/%d' % (app_id, flags)
    self.AddObject(path_of(cookie), INHIBITOR_IFACE, {}, [
        ('GetAppId', '', 's', 'ret = %r' % str(app_id)),
        ('GetReason', '', 's', 'ret = %r' % str(reason)),
        ('GetFlags', '', 'u', 'ret = dbus.UInt32(%d)' % int(flags)),
    ])
    self.EmitSignal(MAIN_IFACE, 'InhibitorAdded', 'o', [dbus.ObjectPath(path_of(cookie))])
    return dbus.UInt32(cookie)


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def Uninhibit(self, cookie):
    if self.inhibitors.pop(int(cookie), None) is not None:
        self.RemoveObject(path_of(int(cookie)))
        self.EmitSignal(MAIN_IFACE, 'InhibitorRemoved', 'o', [dbus.ObjectPath(path_of(int(cookie)))])


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='ao')
def GetInhibitors(self):
    return dbus.Array([dbus.ObjectPath(path_of(c)) for c in sorted(self.inhibitors)], signature='o')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ListInhibitors(self):
    return dbus.Array(sorted(self.inhibitors.values()), signature='s')
