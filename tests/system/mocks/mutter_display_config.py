'''org.gnome.Mutter.DisplayConfig as GNOME's Mutter offers it, reduced to its
PowerSaveMode property (0 on, 1 standby, 2 suspend, 3 off, -1 unknown; the
parameter "PowerSaveMode" gives the first value). The test changes it with
org.freedesktop.DBus.Properties.Set, which emits PropertiesChanged as Mutter
does.'''

import dbus

BUS_NAME = 'org.gnome.Mutter.DisplayConfig'
MAIN_OBJ = '/org/gnome/Mutter/DisplayConfig'
MAIN_IFACE = 'org.gnome.Mutter.DisplayConfig'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {'PowerSaveMode': dbus.Int32(parameters.get('PowerSaveMode', 0))})
