#!/usr/bin/python3
# SPDX-License-Identifier: BSD-3-Clause
"""scanpilot_node on a real ROS 1 master: a recorded bag played through it,
broken messages, stale input, a bad parameter, and Ctrl-C; mounts from tf,
refused frames and stamps, /diagnostics; goals on a moving odometry; bad time
parameters and a master restart; the catkin workspace build.

  ros_node_test.py node --node NODE --demo ROBOT_DEMO --bag BAG --work DIR
  ros_node_test.py launch --build BUILD --work DIR
  ros_node_test.py frames --node NODE --bag BAG --work DIR
  ros_node_test.py goals --node NODE --work DIR
  ros_node_test.py master --node NODE --work DIR
  ros_node_test.py catkin --build BUILD --source ROS_DIR --work DIR

Every process it starts gets its own process group and is ended in a finally
block. Only loopback addresses are used.
"""
import argparse
import json
import math
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

SCANS = 1265
TIMEOUT = 0.5  # the node's scan_timeout in this test
# The bag's stamps are judged on its own clock (rosbag play --clock), with room for a backlog at 10x.
PARAMS = ['_mode:=follow', '_follow_distance:=1.2', '_scan_queue:=5000', '_scan_timeout:=%g' % TIMEOUT,
          '_use_tf:=false', '_max_scan_age:=60']
DEMO_ARGS = ['--format', 'rosbag', '--follow', '1.2', '--json', '--no-html']


class Failed(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failed(what)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Procs:
    """Processes started here, each in a group of its own."""

    def __init__(self, work):
        self.work = work
        self.procs = []

    def start(self, name, argv, env):
        out = open(os.path.join(self.work, name + '.log'), 'wb')
        p = subprocess.Popen(argv, env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             start_new_session=True)
        p.log_path = out.name
        out.close()
        self.procs.append(p)
        return p

    def end_all(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGINT)
                except ProcessLookupError:
                    pass
        deadline = time.monotonic() + 10
        for p in reversed(self.procs):
            try:
                p.wait(timeout=max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
            try:  # children too (roscore's rosmaster and rosout)
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            p.wait()


def ros_env(work, port):
    env = dict(os.environ)
    for k in ('ROS_HOSTNAME', 'ROS_NAMESPACE', 'ROS_PACKAGE_PATH'):
        env.pop(k, None)
    env.update(ROS_MASTER_URI='http://127.0.0.1:%d' % port, ROS_IP='127.0.0.1',
               ROS_HOME=os.path.join(work, 'ros_home'), ROS_LOG_DIR=os.path.join(work, 'log'))
    return env


def wait_for(cond, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if cond():
            return
        time.sleep(0.02)
    raise Failed('timed out waiting for ' + what)


def log_text(p):
    with open(p.log_path, 'rb') as f:
        return f.read().decode('utf-8', 'replace')


def pilot_part(line):
    """A ~step line without the node's own "node" object: the pilot's JSON line."""
    at = line.find(',"node":{')
    return line if at < 0 else line[:at] + '}'


def expected_steps(demo, bag, work):
    """robot-demo's replay of the same bag: one JSON line per scan, a closing stop, then its summary."""
    out = subprocess.run([demo, '--scans', bag, '--out', os.path.join(work, 'demo-out')] + DEMO_ARGS,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    check(out.returncode == 0, 'robot-demo --format rosbag failed: ' + out.stderr.decode())
    lines = out.stdout.decode().splitlines()
    check(len(lines) == SCANS + 2 and '"summary"' in lines[-1] and '"end"' in lines[-2],
          'robot-demo gave %d lines' % len(lines))
    return lines[:-2]  # without the closing stop record and the summary


def run_node_case(args):
    expected = expected_steps(args.demo, args.bag, args.work)
    port = free_port()
    env = ros_env(args.work, port)
    os.environ.update({k: env[k] for k in ('ROS_MASTER_URI', 'ROS_IP', 'ROS_HOME', 'ROS_LOG_DIR')})
    os.environ.pop('ROS_HOSTNAME', None)
    procs = Procs(args.work)
    rospy = None
    try:
        procs.start('roscore', ['roscore', '-p', str(port)], env)
        import rosgraph
        wait_for(lambda: rosgraph.is_master_online('http://127.0.0.1:%d' % port), 30, 'roscore')
        subprocess.run(['rosparam', 'set', '/use_sim_time', 'true'], env=env, check=True, timeout=30)

        # A bad parameter: one line naming it, a non-zero exit.
        bad = procs.start('bad_param', [args.node, '__name:=bad_params', '_mode:=drive'], env)
        try:
            bad.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failed('the node did not exit on a bad parameter')
        check(bad.returncode != 0, 'a bad parameter exited 0')
        check('scanpilot_node: parameter ~mode must be goal or follow, not "drive"' in log_text(bad),
              'bad parameter message: ' + log_text(bad))

        node = procs.start('node', [args.node] + PARAMS, env)
        import rospy as rospy_module
        rospy = rospy_module
        from geometry_msgs.msg import Twist
        from nav_msgs.msg import OccupancyGrid, Path
        from sensor_msgs.msg import LaserScan
        from std_msgs.msg import String
        from rosgraph_msgs.msg import Clock
        rospy.init_node('scanpilot_test', anonymous=True, disable_signals=True)
        import rosbag
        with rosbag.Bag(args.bag) as b:
            stamps = [m.header.stamp for _, m, _ in b.read_messages(topics=['/scan'])]

        steps, twists, grids, paths = [], [], [], []
        rospy.Subscriber('/scanpilot_node/step', String, lambda m: steps.append((time.monotonic(), m.data)),
                         queue_size=None)
        rospy.Subscriber('/cmd_vel', Twist, lambda m: twists.append((time.monotonic(), m)), queue_size=None)
        subs = [rospy.Subscriber('/scanpilot_node/grid', OccupancyGrid, lambda m: grids.append(m), queue_size=None),
                rospy.Subscriber('/scanpilot_node/path', Path, lambda m: paths.append(m), queue_size=None)]
        scan_pub = None

        def connected():
            check(node.poll() is None, 'the node exited: ' + log_text(node))
            return all(s.get_num_connections() > 0 for s in subs)
        wait_for(connected, 30, 'the node\'s topics')
        # Before any scan: the robot is told to stand.
        wait_for(lambda: len(twists) > 0, 3 * TIMEOUT + 2, 'a zero command before the first scan')
        check(all(t.linear.x == 0 and t.angular.z == 0 for _, t in twists), 'moved before the first scan')
        # The node's clock at the bag's start before its first scan arrives: the
        # player's own /clock may come after it.
        clock_pub = rospy.Publisher('/clock', Clock, queue_size=10)
        wait_for(lambda: clock_pub.get_num_connections() > 0, 10, 'the node on /clock')
        for _ in range(5):
            clock_pub.publish(Clock(clock=stamps[0]))
            time.sleep(0.05)
        clock_pub.unregister()

        play = procs.start('play', ['rosbag', 'play', '-q', '--clock', '-r', '10', '--wait-for-subscribers', args.bag],
                           env)
        try:
            play.wait(timeout=120)
        except subprocess.TimeoutExpired:
            raise Failed('rosbag play did not finish')
        check(play.returncode == 0, 'rosbag play failed: ' + log_text(play))
        wait_for(lambda: len(steps) >= SCANS, 30, 'a step for every scan (%d so far)' % len(steps))
        last_step_time = steps[SCANS - 1][0]
        time.sleep(TIMEOUT * 2 + 0.5)

        # One ~step per scan, each the line the bag reader and a Pilot give for it.
        check(len(steps) == SCANS, '%d steps for %d scans' % (len(steps), SCANS))
        for n, (_, line) in enumerate(steps):
            rec = json.loads(line)
            check(rec['scan'] == n, 'step %d says scan %s' % (n, rec['scan']))
            check(pilot_part(line) == expected[n], 'step %d differs:\n node %s\n want %s' % (n, line, expected[n]))
            check(rec['node']['refused'] is None, 'step %d refused: %s' % (n, line))

        # cmd_vel: each step's command in order; the only others are zeros.
        k = 0
        for _, t in twists:
            if k < SCANS:
                cmd = json.loads(expected[k])['command']
                if t.linear.x == cmd['speed'] and t.angular.z == cmd['turn_rate']:
                    k += 1
                    continue
            check(t.linear.x == 0 and t.angular.z == 0 and t.linear.y == 0 and t.angular.x == 0,
                  'cmd_vel (%g, %g) matches no step' % (t.linear.x, t.angular.z))
        check(k == SCANS, 'only %d of %d commands seen on cmd_vel' % (k, SCANS))

        # After the bag: a zero within the timeout (and the timer's period), nothing else.
        after = [(t, m) for t, m in twists if t > last_step_time + 0.05]
        check(after, 'no command after the bag ended')
        check(all(m.linear.x == 0 and m.angular.z == 0 for _, m in after), 'a non-zero command after the bag')
        delay = after[0][0] - last_step_time
        check(delay <= TIMEOUT * 1.1 + 0.25, 'the zero came %.3f s after the last scan' % delay)
        print('zero command %.3f s after the last scan (timeout %g s)' % (delay, TIMEOUT))

        # What the planner saw: one grid and path per step while subscribed.
        check(len(grids) == SCANS and len(paths) == SCANS, '%d grids, %d paths' % (len(grids), len(paths)))
        for n in (0, SCANS // 2, SCANS - 1):
            g, p, rec = grids[n], paths[n], json.loads(expected[n])
            check(g.header.frame_id == 'base_link' and g.info.width == 100 and g.info.height == 100,
                  'grid shape')
            check(abs(g.info.resolution - 0.05) < 1e-7 and g.info.origin.position.x == -2.5 and
                  g.info.origin.position.y == -2.5, 'grid origin')
            check(len(g.data) == 10000 and set(g.data) <= {0, 100} and 100 in g.data, 'grid data')
            check(g.data[50 * 100 + 50] == 0, 'the robot\'s own cell blocked')
            check(len(p.poses) == rec['path_cells'] + 1, 'path length %d for %d cells' % (len(p.poses),
                                                                                        rec['path_cells']))
            end = p.poses[-1].pose.position
            if rec['path_cells'] > 0:
                check(abs(end.x - rec['path_end']['x']) < 1e-6 and abs(end.y - rec['path_end']['y']) < 1e-6,
                      'path end (%g, %g) vs %s' % (end.x, end.y, rec['path_end']))

        # Broken messages: a zero and a bad-input step each; then a good scan is stepped.
        scan_pub = rospy.Publisher('/scan', LaserScan, queue_size=100)
        wait_for(lambda: scan_pub.get_num_connections() > 0, 10, 'the node on /scan')
        with rosbag.Bag(args.bag) as b:
            good = next(m for _, m, _ in b.read_messages(topics=['/scan']))
        # Stamped on the clock the bag left behind, each after the one before.
        good.header.stamp = stamps[-1]
        sent = [0]

        def variant(**fields):
            m = LaserScan()
            m.header.frame_id = good.header.frame_id
            sent[0] += 1
            m.header.stamp = stamps[-1] + rospy.Duration(0.001 * sent[0])
            for f in ('angle_min', 'angle_max', 'angle_increment', 'range_min', 'range_max', 'ranges'):
                setattr(m, f, fields.get(f, getattr(good, f)))
            return m
        broken = [variant(ranges=[]), variant(angle_min=float('nan')), variant(angle_increment=float('inf')),
                  variant(angle_increment=0.0), variant(ranges=[1.0] * 1000000)]
        steps_before, twists_before = len(steps), len(twists)
        scan_pub.publish(variant())
        wait_for(lambda: len(steps) > steps_before, 5, 'a step for a good scan')
        first = json.loads(steps[-1][1])
        check(first['scan'] == SCANS, 'the good scan after the bag is scan %d' % first['scan'])
        window_start = len(twists)
        for m in broken:
            scan_pub.publish(m)
        scan_pub.publish(variant())
        wait_for(lambda: len(steps) > steps_before + 1 + len(broken), 10, 'a step after the broken scans')
        time.sleep(0.1)
        check(node.poll() is None, 'the node died on broken scans: ' + log_text(node))
        second = json.loads(steps[-1][1])
        check(second['scan'] == SCANS + 1 + len(broken),
              'after %d broken scans the good one is scan %d' % (len(broken), second['scan']))
        check(len(steps) == steps_before + 2 + len(broken), 'one step per scan, broken ones included')
        bad = [json.loads(t) for _, t in steps[steps_before + 1:-1]]
        check(all(b['bad_input'] and b['stopped'] for b in bad), 'a broken scan is a bad-input stop')
        zeros = [m for _, m in twists[window_start:] if m.linear.x == 0 and m.angular.z == 0]
        check(len(zeros) >= len(broken), 'only %d zero commands for %d broken scans' % (len(zeros), len(broken)))
        check(len(twists) - twists_before <= len(broken) + 4, 'more commands than scans')
        check('refused' in log_text(node), 'no warning for broken scans')

        # Ctrl-C: a zero command on the way out, exit 0.
        time.sleep(0.1)
        n_before = len(twists)
        t_int = time.monotonic()
        os.killpg(node.pid, signal.SIGINT)
        try:
            node.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failed('the node did not stop on SIGINT')
        time.sleep(0.2)
        check(node.returncode == 0, 'the node exited %d on SIGINT' % node.returncode)
        last = twists[n_before:]
        check(last and all(m.linear.x == 0 and m.angular.z == 0 for _, m in last) and
              last[0][0] - t_int < TIMEOUT, 'no zero command on SIGINT')
        summary = [l for l in log_text(node).splitlines() if 'scan to cmd_vel' in l]
        check(summary, 'no timing summary from the node')
        print(summary[-1].strip())
    finally:
        if rospy is not None:
            rospy.signal_shutdown('test done')
        procs.end_all()
    print('ros_node: all checks passed')


def run_launch_case(args):
    """The installed package: roslaunch finds the node and its parameters."""
    prefix = os.path.join(args.work, 'prefix')
    shutil.rmtree(prefix, ignore_errors=True)
    subprocess.run([args.cmake, '--install', args.build, '--prefix', prefix], check=True, stdout=subprocess.DEVNULL,
                   timeout=120)
    launch = os.path.join(prefix, 'share', 'scanpilot', 'launch', 'scanpilot.launch')
    check(os.path.isfile(os.path.join(prefix, 'share', 'scanpilot', 'rviz', 'scanpilot.rviz')), 'rviz config')
    # Parameters and the mount transform as roslaunch reads them.
    os.environ.update(ROS_PACKAGE_PATH=os.path.join(prefix, 'share'), ROS_HOME=os.path.join(args.work, 'ros_home'),
                      ROS_LOG_DIR=os.path.join(args.work, 'log'))
    import roslaunch.config
    config = roslaunch.config.load_config_default(
        [(launch, ['mode:=follow', 'use_tf:=false', 'upside_down:=true', 'mount_yaw:=%r' % (math.pi / 2),
                   'laser_frame:=laser'])], None)
    params = {k: v.value for k, v in config.params.items() if k.startswith('/scanpilot/')}
    check(params['/scanpilot/mode'] == 'follow' and params['/scanpilot/upside_down'] is True and
          params['/scanpilot/mount_yaw'] == math.pi / 2 and params['/scanpilot/max_speed'] == 0.5 and
          params['/scanpilot/use_tf'] is False, 'launch parameters: %s' % params)
    nodes = {n.name: n for n in config.nodes}
    check(sorted(nodes) == ['scanpilot', 'scanpilot_mount'], 'launch nodes: %s' % sorted(nodes))
    words = nodes['scanpilot_mount'].args.split()
    check(len(words) == 8 and words[6:] == ['base_link', 'laser'], 'mount transform: %s' % words)
    yaw, pitch, roll = float(words[3]), float(words[4]), float(words[5])
    check(abs(yaw - math.pi / 2) < 1e-12 and pitch == 0 and abs(roll - math.pi) < 1e-12, 'mount: %s' % words)
    plain = roslaunch.config.load_config_default([(launch, ['laser_frame:=laser'])], None)
    check([n.name for n in plain.nodes] == ['scanpilot'], 'no mount transform when tf gives the mount')
    plain_params = [k for k in plain.params if k.startswith('/scanpilot/')]
    check('/scanpilot/mount_yaw' not in plain_params and '/scanpilot/upside_down' not in plain_params,
          'mount parameters beside tf: %s' % plain_params)

    # roslaunch finds the installed node, which takes every parameter the file sets (it refuses unknown ones).
    port = free_port()
    env = ros_env(args.work, port)
    env.update(ROS_PACKAGE_PATH=os.path.join(prefix, 'share'), CMAKE_PREFIX_PATH=prefix)
    procs = Procs(args.work)
    try:
        procs.start('roscore', ['roscore', '-p', str(port)], env)
        import rosgraph
        uri = 'http://127.0.0.1:%d' % port
        wait_for(lambda: rosgraph.is_master_online(uri), 30, 'roscore')
        launched = procs.start('roslaunch', ['roslaunch', launch, 'mode:=follow', 'use_tf:=false', 'mount_yaw:=1.5'],
                               env)
        master = rosgraph.Master('/scanpilot_test', master_uri=uri)

        def up():
            check(launched.poll() is None, 'roslaunch ended: ' + log_text(launched))
            return '/scanpilot/step' in [t for t, _ in master.getPublishedTopics('/')]
        wait_for(up, 30, 'the launched node')
        time.sleep(1.0)
        check(launched.poll() is None, 'the launched node stopped: ' + log_text(launched))
    finally:
        procs.end_all()
    print('ros_launch: all checks passed')


class Master:
    """A roscore of the test's own, and this process as a rospy node on it."""

    def __init__(self, args):
        self.port = free_port()
        self.uri = 'http://127.0.0.1:%d' % self.port
        self.env = ros_env(args.work, self.port)
        os.environ.update({k: self.env[k] for k in ('ROS_MASTER_URI', 'ROS_IP', 'ROS_HOME', 'ROS_LOG_DIR')})
        os.environ.pop('ROS_HOSTNAME', None)
        self.procs = Procs(args.work)
        self.args = args

    def start_core(self, name='roscore'):
        import rosgraph
        core = self.procs.start(name, ['roscore', '-p', str(self.port)], self.env)
        wait_for(lambda: rosgraph.is_master_online(self.uri), 30, 'roscore')
        return core

    def node(self, name, *argv):
        return self.procs.start(name, [self.args.node, '__name:=' + name] + list(argv), self.env)


def scan_message(ranges, frame, stamp, template=None):
    from sensor_msgs.msg import LaserScan
    m = LaserScan()
    if template is not None:
        for f in ('angle_min', 'angle_max', 'angle_increment', 'range_min', 'range_max'):
            setattr(m, f, getattr(template, f))
    else:
        m.angle_min, m.angle_increment = -math.pi, 2 * math.pi / 360
        m.angle_max = m.angle_min + 359 * m.angle_increment
        m.range_min, m.range_max = 0.05, 30.0
    m.ranges = ranges
    m.header.frame_id = frame
    m.header.stamp = stamp
    return m


def transform(parent, child, x=0.0, y=0.0, roll=0.0, yaw=0.0, stamp=None):
    from geometry_msgs.msg import TransformStamped
    import rospy
    t = TransformStamped()
    t.header.stamp = stamp if stamp is not None else rospy.Time.now()
    t.header.frame_id, t.child_frame_id = parent, child
    t.transform.translation.x, t.transform.translation.y = x, y
    cr, sr, cy, sy = math.cos(roll / 2), math.sin(roll / 2), math.cos(yaw / 2), math.sin(yaw / 2)
    t.transform.rotation.x, t.transform.rotation.y = sr * cy, -sr * sy
    t.transform.rotation.z, t.transform.rotation.w = cr * sy, cr * cy
    return t


def run_frames_case(args):
    """Mounts from tf against the mount parameters; refused frames and stamps; a stale laser's diagnostics."""
    m = Master(args)
    try:
        m.start_core()
        import rospy
        import rosbag
        import tf2_ros
        from diagnostic_msgs.msg import DiagnosticArray
        from geometry_msgs.msg import Twist
        from sensor_msgs.msg import LaserScan
        from std_msgs.msg import String
        rospy.init_node('scanpilot_test', anonymous=True, disable_signals=True)
        common = ['_goal_x:=2.2', '_goal_y:=0.6', '_scan_queue:=100']
        # Pairs: the mount from tf, and the same mount from the parameters.
        pairs = {'yaw': ('laser_yaw', ['_mount_yaw:=%r' % math.pi]),
                 'flip': ('laser_flip', ['_upside_down:=true'])}
        nodes, steps, twists, pubs = {}, {}, {}, {}
        for key, (frame, mount) in pairs.items():
            for how, extra in (('tf', ['_laser_frame:=' + frame]), ('param', ['_use_tf:=false'] + mount)):
                name = '%s_%s' % (how, key)
                nodes[name] = m.node(name, 'scan:=/scan_' + key, 'cmd_vel:=/%s/cmd_vel' % name, *(common + extra))
        nodes['tf_none'] = m.node('tf_none', 'scan:=/scan_none', 'cmd_vel:=/tf_none/cmd_vel', *common)
        # Follow mode, scans in the base frame, person points in odom.
        nodes['follow'] = m.node('follow', 'scan:=/scan_follow', 'cmd_vel:=/follow/cmd_vel', 'person:=/follow_person',
                                 '_mode:=follow', '_follow_distance:=1.2', '_scan_queue:=100')
        for name in nodes:
            steps[name], twists[name] = [], []
            rospy.Subscriber('/%s/step' % name, String, lambda msg, n=name: steps[n].append(json.loads(msg.data)),
                             queue_size=None)
            rospy.Subscriber('/%s/cmd_vel' % name, Twist, lambda msg, n=name: twists[n].append(msg), queue_size=None)
        diags = []
        rospy.Subscriber('/diagnostics', DiagnosticArray,
                         lambda msg: diags.extend((time.monotonic(), d) for d in msg.status), queue_size=None)
        static = tf2_ros.StaticTransformBroadcaster()
        static.sendTransform([transform('base_link', 'laser_yaw', yaw=math.pi),
                              transform('base_link', 'laser_flip', roll=math.pi),
                              transform('odom', 'base_link', x=5.0, y=3.0, yaw=math.pi / 2)])
        for key in ('yaw', 'flip', 'none', 'follow'):
            pubs[key] = rospy.Publisher('/scan_' + key, LaserScan, queue_size=100)

        def ready():
            for name, p in nodes.items():
                check(p.poll() is None, '%s exited: %s' % (name, log_text(p)))
            return (all(p.get_num_connections() >= 2 for k, p in pubs.items() if k in pairs) and
                    all(pubs[k].get_num_connections() >= 1 for k in ('none', 'follow')) and
                    static.pub_tf.get_num_connections() >= 6)
        wait_for(ready, 30, 'the nodes')
        with rosbag.Bag(args.bag) as b:
            scans = [msg for _, msg, _ in b.read_messages(topics=['/scan'])][:40]

        # The bag's scanner sees only its front: turned round by the mount it
        # would see nothing ahead and rightly never drive. The mount cases get
        # its returns on a full circle, open (3 m) where it saw nothing.
        def full_circle(m):
            out = [3.0] * 360
            for k, r in enumerate(m.ranges):
                if math.isfinite(r) and m.range_min <= r <= m.range_max:
                    j = int(round(math.degrees(m.angle_min + k * m.angle_increment) + 180.0)) % 360
                    out[j] = min(out[j], r)
            return out
        circles = [full_circle(m) for m in scans]

        # Until the static transforms reach the tf nodes' buffers their scans are
        # refused; goal mode keeps no state from scan to scan, so warm up first.
        def placed():
            for key, (frame, _) in pairs.items():
                pubs[key].publish(scan_message(circles[0], frame, rospy.Time.now()))
            time.sleep(0.1)
            return all(steps['tf_' + k] and steps['tf_' + k][-1]['node']['refused'] is None for k in pairs)
        wait_for(placed, 10, 'the static transforms')
        time.sleep(0.3)
        for name in list(steps):
            if name not in ('tf_none', 'follow'):
                del steps[name][:]
                del twists[name][:]

        for k, scan in enumerate(scans):
            now = rospy.Time.now()
            for key, (frame, _) in pairs.items():
                pubs[key].publish(scan_message(circles[k], frame, now))
            pubs['none'].publish(scan_message(scan.ranges, 'nowhere', now, scan))
            pubs['follow'].publish(scan_message(scan.ranges, 'base_link', now, scan))
            time.sleep(0.03)
        n = len(scans)
        wait_for(lambda: all(len(v) >= n for v in steps.values()), 20, 'a step per scan from every node')
        for key in pairs:
            tf_steps, param_steps = steps['tf_' + key], steps['param_' + key]
            check(all(s['node']['refused'] is None for s in tf_steps + param_steps), key + ': a scan was refused')
            strip = [lambda s: {k: v for k, v in s.items() if k != 'node'}][0]
            check([strip(s) for s in tf_steps] == [strip(s) for s in param_steps],
                  key + ': the mount from tf steps unlike the parameters')
            check(any(t.linear.x != 0 or t.angular.z != 0 for t in twists['tf_' + key]), key + ': never moved')
        check([s['path_end'] for s in steps['tf_yaw']] != [s['path_end'] for s in steps['tf_flip']],
              'the mirror made no difference')
        none = steps['tf_none']
        check(all(s['node']['refused'] == 'tf cannot place the laser frame' and s['stopped'] for s in none),
              'a scan in a frame without a transform was stepped')
        check(none[-1]['node']['no_transform'] == n, 'no_transform counter: %s' % none[-1]['node'])
        check(all(t.linear.x == 0 and t.angular.z == 0 for t in twists['tf_none']), 'a frame without tf drove')
        check('tf cannot place the laser frame' in log_text(nodes['tf_none']), 'no warning for the unplaced frame')

        # A person point in odom reaches the tracker where the robot sees the person.
        from geometry_msgs.msg import PointStamped
        person_pub = rospy.Publisher('/follow_person', PointStamped, queue_size=10)
        wait_for(lambda: person_pub.get_num_connections() > 0, 10, 'the follow node on person')
        seen = steps['follow'][-1]['tracked']

        def offered(frame, x, y, scan):
            p = PointStamped()
            p.header.frame_id, p.header.stamp = frame, rospy.Time.now()
            p.point.x, p.point.y = x, y
            count = len(steps['follow'])
            person_pub.publish(p)
            time.sleep(0.1)
            pubs['follow'].publish(scan_message(scan.ranges, 'base_link', rospy.Time.now(), scan))
            wait_for(lambda: len(steps['follow']) > count, 5, 'a follow step')
            return steps['follow'][-1]
        in_odom = (5.0 - seen['y'], 3.0 + seen['x'])  # the robot at odom (5, 3) facing odom's Y
        wrong = offered('base_link', in_odom[0], in_odom[1], scans[-1])
        check(not wrong['candidate_passed'], 'odom numbers taken as base_link passed: %s' % wrong)
        right = offered('odom', in_odom[0], in_odom[1], scans[-1])
        check(right['candidate_passed'], 'the person point in odom did not reach the tracker: %s (seen %s)' %
              (right, seen))

        # Stale, future, backwards and foreign scans: each a zero and its counter.
        node = 'tf_yaw'
        scan = scans[-1]
        last = rospy.Time.now()
        before = len(steps[node]) + 1  # after the fresh scan that sets the last stamp
        pubs['yaw'].publish(scan_message(scan.ranges, 'laser_yaw', last, scan))
        cases = [('stale', scan_message(scan.ranges, 'laser_yaw', last - rospy.Duration(3600), scan)),
                 ('stale', scan_message(scan.ranges, 'laser_yaw', rospy.Time(0, 1), scan)),
                 ('future', scan_message(scan.ranges, 'laser_yaw', last + rospy.Duration(86400), scan)),
                 ('backwards', scan_message(scan.ranges, 'laser_yaw', last - rospy.Duration(0.2), scan)),
                 ('foreign_frame', scan_message(scan.ranges, 'laser_flip', last, scan)),
                 ('foreign_frame', scan_message(scan.ranges, 'map', last, scan))]
        for _, msg in cases:
            pubs['yaw'].publish(msg)
        wait_for(lambda: len(steps[node]) >= before + len(cases), 10, 'steps for the refused scans')
        got = steps[node][before:before + len(cases)]
        counts = {}
        for (why, _), st in zip(cases, got):
            counts[why] = counts.get(why, 0) + 1
            check(st['node']['refused'] is not None and st['stopped'] and st['command']['speed'] == 0,
                  '%s scan not refused: %s' % (why, st))
            check(st['node'][why] == counts[why], '%s counter %s' % (why, st['node']))
        time.sleep(0.2)
        tail = twists[node][-len(cases):]
        check(all(t.linear.x == 0 and t.angular.z == 0 for t in tail), 'a refused scan drove')
        log = log_text(nodes[node])
        check('refused' in log and 'stamped' in log, 'no warning for refused stamps')

        # The laser goes quiet: /diagnostics says so.
        quiet = time.monotonic()

        def stale_reports():
            return [d for t, d in diags if t > quiet and node in d.name and d.level == 2 and 'stale laser' in d.message]
        wait_for(stale_reports, 10, 'a stale laser on /diagnostics')
        report = stale_reports()[0]
        check(any(t < quiet and node in d.name and d.level < 2 for t, d in diags),
              'no report below error while scans came')
        values = {kv.key: kv.value for kv in report.values}
        check(values.get('refused: stale') == '2' and values.get('refused: foreign_frame') == '2',
              'diagnostic counts: %s' % values)
        check('step time p99 (us)' in values and 'scan rate (Hz)' in values, 'diagnostic keys: %s' % sorted(values))
        print('stale laser reported %.2f s after the last scan' % (time.monotonic() - quiet))
    finally:
        import rospy
        rospy.signal_shutdown('test done')
        m.procs.end_all()
    print('ros_frames: all checks passed')


def run_goals_case(args):
    """A robot on odometry: goals in odom (PointStamped) and in map (rviz's PoseStamped) are reached."""
    m = Master(args)
    try:
        m.start_core()
        import rospy
        import tf2_ros
        from geometry_msgs.msg import PointStamped, PoseStamped, Twist
        from sensor_msgs.msg import LaserScan
        from std_msgs.msg import String
        rospy.init_node('scanpilot_test', anonymous=True, disable_signals=True)
        # The laser 0.2 m ahead of the centre, so that the offset is used too.
        node = m.node('pilot', '_goal_tolerance:=0.5')
        status, cmd = [], [Twist()]
        rospy.Subscriber('/pilot/goal_status', String, lambda msg: status.append(json.loads(msg.data)),
                         queue_size=None)
        rospy.Subscriber('/cmd_vel', Twist, lambda msg: cmd.__setitem__(0, msg), queue_size=None)
        static = tf2_ros.StaticTransformBroadcaster()
        static.sendTransform([transform('base_link', 'laser', x=0.2), transform('map', 'odom', x=1.0)])
        moving = tf2_ros.TransformBroadcaster()
        scan_pub = rospy.Publisher('/scan', LaserScan, queue_size=10)
        goal_pub = rospy.Publisher('/goal', PointStamped, queue_size=1, latch=True)
        pose_pub = rospy.Publisher('/move_base_simple/goal', PoseStamped, queue_size=1, latch=True)
        wait_for(lambda: scan_pub.get_num_connections() > 0 and node.poll() is None, 30, 'the node')
        pose = [0.0, 0.0, 0.0]  # x, y, heading in odom
        free = [float('inf')] * 360

        def drive(seconds, until):
            """Moves the robot by cmd_vel at 20 Hz, with a scan every other step."""
            end = time.monotonic() + seconds
            k = 0
            while time.monotonic() < end:
                check(node.poll() is None, 'the node exited: ' + log_text(node))
                v, w = cmd[0].linear.x, cmd[0].angular.z
                pose[0] += v * 0.05 * math.cos(pose[2])
                pose[1] += v * 0.05 * math.sin(pose[2])
                pose[2] += w * 0.05
                now = rospy.Time.now()
                moving.sendTransform(transform('odom', 'base_link', pose[0], pose[1], yaw=pose[2], stamp=now))
                if k % 2 == 0:
                    scan_pub.publish(scan_message(free, 'laser', now))
                k += 1
                if until():
                    return True
                time.sleep(0.05)
            return False

        drive(1.0, lambda: False)
        check(pose == [0.0, 0.0, 0.0], 'moved without a goal: %s' % pose)
        goal = PointStamped()
        goal.header.frame_id = 'odom'
        goal.header.stamp = rospy.Time.now()
        goal.point.x, goal.point.y = 3.5, 1.5  # beyond the planner's 2.4 m window
        goal_pub.publish(goal)
        check(drive(40.0, lambda: status and status[-1]['state'] == 'arrived'), 'the odom goal was not reached: %s, '
              'robot at %s' % (status[-1:], pose))
        d = math.hypot(pose[0] - 3.5, pose[1] - 1.5)
        check(d <= 0.6, 'arrived %.2f m from the goal' % d)
        check(status[-1]['frame'] == 'odom' and status[-1]['x'] == 3.5, 'status: %s' % status[-1])
        print('odom goal reached: robot at (%.2f, %.2f), %.2f m away' % (pose[0], pose[1], d))
        at = list(pose)
        drive(1.0, lambda: False)
        check(math.hypot(pose[0] - at[0], pose[1] - at[1]) < 0.01, 'moved after arriving')

        # rviz's 2D Nav Goal: a PoseStamped in map, which sits 1 m off odom.
        target = PoseStamped()
        target.header.frame_id = 'map'
        target.header.stamp = rospy.Time.now()
        target.pose.position.x, target.pose.position.y = 4.5, -0.5  # odom (3.5, -0.5)
        target.pose.orientation.z, target.pose.orientation.w = math.sin(0.4), math.cos(0.4)
        n = len(status)
        pose_pub.publish(target)
        check(drive(40.0, lambda: len(status) > n and status[-1]['state'] == 'arrived'),
              'the rviz goal was not reached: %s, robot at %s' % (status[-1:], pose))
        d = math.hypot(pose[0] - 3.5, pose[1] + 0.5)
        check(d <= 0.6 and status[-1]['frame'] == 'map', 'arrived %.2f m from the rviz goal: %s' % (d, status[-1]))
        check(any(s['state'] == 'active' for s in status[n:]), 'no active status for the rviz goal')
        print('rviz goal reached: robot at (%.2f, %.2f), %.2f m away' % (pose[0], pose[1], d))
    finally:
        import rospy
        rospy.signal_shutdown('test done')
        m.procs.end_all()
    print('ros_goals: all checks passed')


def run_master_case(args):
    """Time parameters out of range stop the start; a restarted master makes the node exit for respawn."""
    m = Master(args)
    try:
        m.start_core()
        for value, text in (('1e12', 'not 1e+12'), ('1e-9', 'not 1e-09'), ('3e9', 'not 3e+09')):
            bad = m.node('bad_%d' % len(m.procs.procs), '_scan_timeout:=' + value)
            try:
                bad.wait(timeout=30)
            except subprocess.TimeoutExpired:
                raise Failed('the node did not exit on scan_timeout %s' % value)
            lines = [l for l in log_text(bad).splitlines() if 'scanpilot_node:' in l]
            check(bad.returncode == 1, 'scan_timeout %s exited %d' % (value, bad.returncode))
            check(len(lines) == 1 and 'parameter ~scan_timeout must be 0.05..10 s, ' + text in lines[0],
                  'scan_timeout %s: %s' % (value, log_text(bad)))
        import rosgraph
        node = m.node('pilot', '_use_tf:=false')
        master = rosgraph.Master('/scanpilot_test', master_uri=m.uri)
        wait_for(lambda: '/pilot/step' in [t for t, _ in master.getPublishedTopics('/')], 30, 'the node registered')
        time.sleep(1.5)
        check(node.poll() is None, 'the node stopped: ' + log_text(node))
        core = m.procs.procs[0]
        os.killpg(core.pid, signal.SIGINT)
        core.wait(timeout=30)
        wait_for(lambda: not rosgraph.is_master_online(m.uri), 10, 'the master to stop')
        time.sleep(2.0)
        check(node.poll() is None, 'the node exited while the master was away')
        m.start_core('roscore2')
        t0 = time.monotonic()
        try:
            node.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise Failed('the node stayed after the master restarted')
        check(node.returncode == 3, 'exit status %d after a master restart' % node.returncode)
        check('the ROS master was restarted' in log_text(node), 'no line on the restart: ' + log_text(node))
        print('node exited %.1f s after the master came back' % (time.monotonic() - t0))
    finally:
        m.procs.end_all()
    print('ros_master: all checks passed')


def run_catkin_case(args):
    """ros/ as a package in a catkin workspace, over the libraries installed into a scratch prefix."""
    prefix = os.path.join(args.work, 'prefix')
    ws = os.path.join(args.work, 'ws')
    os.makedirs(os.path.join(ws, 'src'))
    subprocess.run([args.cmake, '--install', args.build, '--prefix', prefix, '--component', 'Unspecified'], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    os.symlink(args.source, os.path.join(ws, 'src', 'scanpilot'))
    # Debian's catkin runs on Debian's python3, whatever comes first on PATH.
    env = dict(os.environ, PATH='/usr/bin:' + os.environ.get('PATH', ''))
    make = ['catkin_make', '-C', ws, '-DCMAKE_PREFIX_PATH=' + prefix, '-DPYTHON_EXECUTABLE=/usr/bin/python3', '-j2',
            '-DCMAKE_CXX_COMPILER=' + args.cxx, '-DCMAKE_CXX_FLAGS=' + args.cxx_flags,
            '-DCMAKE_EXE_LINKER_FLAGS=' + args.cxx_flags]
    # Twice: the second configure meets the devel space's own scanpilotConfig.cmake.
    for step, extra in (('build', []), ('reconfigure and install', ['--force-cmake', 'install'])):
        out = subprocess.run(make + extra, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        check(out.returncode == 0, 'catkin_make %s failed:\n%s' % (step, out.stdout.decode()[-3000:]))
    node = os.path.join(ws, 'devel', 'lib', 'scanpilot', 'scanpilot_node')
    for need in (node, os.path.join(ws, 'install', 'lib', 'scanpilot', 'scanpilot_node'),
                 os.path.join(ws, 'install', 'share', 'scanpilot', 'package.xml'),
                 os.path.join(ws, 'install', 'share', 'scanpilot', 'launch', 'scanpilot.launch')):
        check(os.path.isfile(need), 'missing ' + need)
    libs = subprocess.run(['ldd', node], stdout=subprocess.PIPE, check=True).stdout.decode()
    line = [l for l in libs.splitlines() if 'libscanpilot.so' in l]
    check(line and prefix in line[0], 'the node links %s, not the installed library' % line)
    own = [l.split('=>')[1].split()[0] for l in libs.splitlines() if '=>' in l and args.build in l]
    check(all(path.startswith(prefix) for path in own), 'the node links the build tree: %s' % own)
    # It runs: a parameter out of range is its one line and status 1.
    args.node = node
    m = Master(args)
    try:
        m.start_core()
        bad = m.node('bad', '_scan_timeout:=1e12')
        bad.wait(timeout=30)
        check(bad.returncode == 1 and 'parameter ~scan_timeout must be' in log_text(bad), log_text(bad))
    finally:
        m.procs.end_all()
    print('ros_catkin: all checks passed')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('case', choices=['node', 'launch', 'frames', 'goals', 'master', 'catkin'])
    ap.add_argument('--node')
    ap.add_argument('--demo')
    ap.add_argument('--bag')
    ap.add_argument('--build')
    ap.add_argument('--cmake', default='cmake')
    ap.add_argument('--source', help='the ros/ folder (catkin)')
    ap.add_argument('--cxx', default='c++', help='the compiler (catkin)')
    ap.add_argument('--cxx-flags', default='', help='compiler and linker flags (catkin)')
    ap.add_argument('--work', required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        {'node': run_node_case, 'launch': run_launch_case, 'frames': run_frames_case, 'goals': run_goals_case,
         'master': run_master_case, 'catkin': run_catkin_case}[args.case](args)
    except Failed as e:
        print('FAILED: %s' % e)
        print('(logs in %s)' % args.work)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
