'''org.freedesktop.ScreenSaver as KDE, XFCE and LXQt offer it: GetActive,
SimulateUserActivity, and SetActive for the test to change the state, which
emits ActiveChanged as the real services do.'''

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.is_active = False
    mock.AddMethods(MAIN_IFACE, [
        ('GetActive', '', 'b', 'ret = self.is_active'),
        ('SetActive', 'b', 'b', 'self.is_active = args[0]; '
                                'self.EmitSignal("", "ActiveChanged", "b", [args[0]]); ret = True'),
        ('SimulateUserActivity', '', '', ''),
    ])
