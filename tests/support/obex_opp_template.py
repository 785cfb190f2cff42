'''python3-dbusmock template: obexd (org.bluez.obex, session bus) with Object Push, built on the stock
bluez5-obex template (which only models PBAP: CreateSession Target=PBAP, PhonebookAccess1.PullAll).

Adds:
  Client1.CreateSession(s dest, a{sv} {'Target': 'opp'|'pbap'}) -> o session  (opp sessions get ObjectPush1)
  ObjectPush1.SendFile(s sourcefile) -> (o transfer, a{sv} props); the transfer goes queued -> active -> complete
  AgentManager1.RegisterAgent(o path, s sender-recorded)/UnregisterAgent(o)
  Mock driver on /org/bluez/obex, interface org.bluez.obex.Mock:
    SentFiles() -> as: every SendFile's path so far, in call order (sessions and their call logs go away);
    IncomingPush(s device, s name, s content): a server session + transfer appear under /org/bluez/obex/server,
    the registered agent's org.bluez.obex.Agent1.AuthorizePush(o transfer) -> s filename is called, the content is
    written there ('' = $XDG_CACHE_HOME/obexd/<name>), Status goes active -> complete; the transfer is removed 1 s later.
'''
import importlib, os
from pathlib import Path
import dbus
import dbus.lowlevel
from gi.repository import GLib
from dbusmock import OBJECT_MANAGER_IFACE, mockobject

base = importlib.import_module('dbusmock.templates.bluez5-obex')
BUS_NAME = 'org.bluez.obex'
MAIN_OBJ = '/'
SYSTEM_BUS = False
IS_OBJECT_MANAGER = True
CLIENT_IFACE = 'org.bluez.obex.Client1'
SESSION_IFACE = 'org.bluez.obex.Session1'
OPP_IFACE = 'org.bluez.obex.ObjectPush1'
TRANSFER_IFACE = 'org.bluez.obex.Transfer1'
AGENT_MANAGER_IFACE = 'org.bluez.obex.AgentManager1'
AGENT_IFACE = 'org.bluez.obex.Agent1'
OBEX_MOCK_IFACE = 'org.bluez.obex.Mock'
STEP_MS = 150
state = {'agent': None, 'sender_of_register': None, 'server_n': 0, 'sent': []}


def _manager():
    return mockobject.objects['/']


def _add(path, iface, props, methods):
    obex = mockobject.objects['/org/bluez/obex']
    obex.AddObject(path, iface, props, methods)
    _manager().EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}', [dbus.ObjectPath(path), {iface: props}])


def _update(path, props):
    o = mockobject.objects[path]
    for k, v in props.items():
        o.props[TRANSFER_IFACE][k] = v
    o.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [TRANSFER_IFACE, props, []])


def _remove(path, ifaces):
    if path in mockobject.objects:
        mockobject.objects['/org/bluez/obex'].RemoveObject(path)
        _manager().EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas', [dbus.ObjectPath(path), ifaces])
    return False


def _progress(path, size, then=None):
    '''active (half) -> complete, one step each STEP_MS'''
    steps = [{'Status': dbus.String('active', variant_level=1), 'Transferred': dbus.UInt64(size // 2, variant_level=1)},
             {'Status': dbus.String('complete', variant_level=1), 'Transferred': dbus.UInt64(size, variant_level=1)}]
    def step():
        if path not in mockobject.objects:
            return False
        _update(path, steps.pop(0))
        if steps:
            return True
        if then:
            then()
        return False
    GLib.timeout_add(STEP_MS, step)


def _transfer_props(session, name, size, filename, status='queued'):
    return {'Status': dbus.String(status, variant_level=1), 'Session': dbus.ObjectPath(session, variant_level=1),
            'Name': dbus.String(name, variant_level=1), 'Type': dbus.String('', variant_level=1),
            'Time': dbus.UInt64(0, variant_level=1), 'Size': dbus.UInt64(size, variant_level=1),
            'Transferred': dbus.UInt64(0, variant_level=1), 'Filename': dbus.String(filename, variant_level=1)}


def CreateSession(self, destination, args):
    target = str(args.get('Target', '')).lower()
    if target == 'pbap':
        return base.CreateSession(self, destination, args)
    if target != 'opp':
        raise dbus.exceptions.DBusException('Target %r not modelled (opp, pbap)' % target,
                                            name=OBEX_MOCK_IFACE + '.Unsupported')
    n = 0
    while '/org/bluez/obex/client/session%d' % n in mockobject.objects:
        n += 1
    path = '/org/bluez/obex/client/session%d' % n
    props = {'Source': dbus.String('00:00:00:00:00:00', variant_level=1),
             'Destination': dbus.String(destination, variant_level=1),
             'Channel': dbus.Byte(12, variant_level=1), 'Target': dbus.String('00001105-0000-1000-8000-00805f9b34fb', variant_level=1),
             'Root': dbus.String('', variant_level=1)}
    _add(path, SESSION_IFACE, props, [('GetCapabilities', '', 's', 'ret = ""')])
    mockobject.objects[path].AddMethods(OPP_IFACE, [('SendFile', 's', 'oa{sv}', SendFile),
                                                    ('PullBusinessCard', 's', 'oa{sv}', ''),
                                                    ('ExchangeBusinessCard', 'ss', 'oa{sv}', '')])
    return dbus.ObjectPath(path)


def RemoveSession(self, session_path):
    for p in [p for p in list(mockobject.objects) if p.startswith(str(session_path) + '/transfer')]:
        _remove(p, [TRANSFER_IFACE])
    _remove(str(session_path), [SESSION_IFACE, OPP_IFACE])


def SendFile(self, sourcefile):
    state['sent'].append(str(sourcefile))
    src = Path(sourcefile)
    if not src.is_file():
        raise dbus.exceptions.DBusException('Invalid file ' + sourcefile, name='org.bluez.obex.Error.InvalidArguments')
    n = 0
    while '%s/transfer%d' % (self.path, n) in mockobject.objects:
        n += 1
    path = '%s/transfer%d' % (self.path, n)
    props = _transfer_props(self.path, src.name, src.stat().st_size, str(src))
    _add(path, TRANSFER_IFACE, props, [('Cancel', '', '', ''), ('Suspend', '', '', ''), ('Resume', '', '', '')])
    _progress(path, src.stat().st_size)
    return (dbus.ObjectPath(path), props)


def SentFiles(self):
    return dbus.Array(state['sent'], signature='s')


def RegisterAgent(self, agent_path):
    state['agent'] = (state['sender_of_register'], str(agent_path))


def UnregisterAgent(self, agent_path):
    state['agent'] = None


def IncomingPush(self, device, name, content):
    '''Driver: a nearby device pushes a file to us.'''
    state['server_n'] += 1
    session = '/org/bluez/obex/server/session%d' % state['server_n']
    _add(session, SESSION_IFACE, {'Source': dbus.String('00:00:00:00:00:00', variant_level=1),
                                  'Destination': dbus.String(device, variant_level=1),
                                  'Target': dbus.String('00001105-0000-1000-8000-00805f9b34fb', variant_level=1),
                                  'Root': dbus.String('', variant_level=1), 'Channel': dbus.Byte(9, variant_level=1)}, [])
    path = session + '/transfer0'
    data = content.encode()
    _add(path, TRANSFER_IFACE, _transfer_props(session, name, len(data), ''), [('Cancel', '', '', '')])

    def accepted(filename):
        filename = str(filename) or os.path.join(os.environ.get('XDG_CACHE_HOME', os.path.expanduser('~/.cache')), 'obexd', name)
        Path(filename).parent.mkdir(parents=True, exist_ok=True)
        Path(filename).write_bytes(data)
        _update(path, {'Filename': dbus.String(filename, variant_level=1)})
        _progress(path, len(data), then=lambda: GLib.timeout_add(1000, lambda: (_remove(path, [TRANSFER_IFACE]), _remove(session, [SESSION_IFACE]))[0]))

    def rejected(err):
        _update(path, {'Status': dbus.String('error', variant_level=1)})
    if not state['agent']:
        rejected(None)
    else:
        bus_name, agent_path = state['agent']
        self.connection.call_async(bus_name, agent_path, AGENT_IFACE, 'AuthorizePush', 'o', (dbus.ObjectPath(path),),
                                   accepted, rejected)
    return dbus.ObjectPath(path)


def load(mock, parameters):
    base.load(mock, parameters)        # /org/bluez/obex with AgentManager1 + Client1 (PBAP)
    obex = mockobject.objects['/org/bluez/obex']
    obex.AddMethods(CLIENT_IFACE, [('CreateSession', 'sa{sv}', 'o', CreateSession), ('RemoveSession', 'o', '', RemoveSession)])
    obex.AddMethods(AGENT_MANAGER_IFACE, [('RegisterAgent', 'o', '', RegisterAgent), ('UnregisterAgent', 'o', '', UnregisterAgent)])
    obex.AddMethods(OBEX_MOCK_IFACE, [('IncomingPush', 'sss', 'o', IncomingPush), ('SentFiles', '', 'as', SentFiles)])

    def remember_sender(_conn, msg):       # template methods do not see the caller: note who registers an agent
        if msg.get_member() == 'RegisterAgent' and msg.get_interface() == AGENT_MANAGER_IFACE:
            state['sender_of_register'] = msg.get_sender()
        return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED   # None would swallow every message
    mock.connection.add_message_filter(remember_sender)
