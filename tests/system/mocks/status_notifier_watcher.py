'''A StatusNotifierWatcher as a desktop's tray host runs it (org.kde.StatusNotifierWatcher).
Its properties appear in its introspection data, which Qt reads before it
registers an item. Items register by their bus name (Qt: the unique name, with
the item at /StatusNotifierItem) or by a path on the caller's name.'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
    }, signature='sv'))


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='', sender_keyword='sender')
def RegisterStatusNotifierItem(self, service, sender=None):
    item = service if not service.startswith('/') else sender + service
    items = list(self.Get(MAIN_IFACE, 'RegisteredStatusNotifierItems'))
    if item not in items:
        items.append(item)
        self.Set(MAIN_IFACE, 'RegisteredStatusNotifierItems', dbus.Array(items, signature='s'))
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierItemRegistered', 's', [item])


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='')
def RegisterStatusNotifierHost(self, _service):
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierHostRegistered', '', [])
