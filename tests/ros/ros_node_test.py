#!/usr/bin/python3
"""scanpilot_node on a real ROS 1 master: a recorded bag played through it,
broken messages, stale input, a bad parameter, and Ctrl-C.

  ros_node_test.py node --node NODE --bag-steps TOOL --bag BAG --work DIR
  ros_node_test.py launch --build BUILD --work DIR

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
PARAMS = ['_mode:=follow', '_follow_distance:=1.2', '_scan_queue:=5000', '_scan_timeout:=%g' % TIMEOUT]
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
        rospy.init_node('scanpilot_test', anonymous=True, disable_signals=True)

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

        play = procs.start('play', ['rosbag', 'play', '-q', '-r', '10', '--wait-for-subscribers', args.bag], env)
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
            check(line == expected[n], 'step %d differs:\n node %s\n want %s' % (n, line, expected[n]))

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

        # Broken messages: a zero each, no step, still counted; then a good scan is stepped.
        scan_pub = rospy.Publisher('/scan', LaserScan, queue_size=100)
        wait_for(lambda: scan_pub.get_num_connections() > 0, 10, 'the node on /scan')
        import rosbag
        with rosbag.Bag(args.bag) as b:
            good = next(m for _, m, _ in b.read_messages(topics=['/scan']))

        def variant(**fields):
            m = LaserScan()
            m.header = good.header
            for f in ('angle_min', 'angle_max', 'angle_increment', 'range_min', 'range_max', 'ranges'):
                setattr(m, f, fields.get(f, getattr(good, f)))
            return m
        broken = [variant(ranges=[]), variant(angle_min=float('nan')), variant(angle_increment=float('inf')),
                  variant(angle_increment=0.0), variant(ranges=[1.0] * 1000000)]
        steps_before, twists_before = len(steps), len(twists)
        scan_pub.publish(good)
        wait_for(lambda: len(steps) > steps_before, 5, 'a step for a good scan')
        first = json.loads(steps[-1][1])
        check(first['scan'] == SCANS, 'the good scan after the bag is scan %d' % first['scan'])
        window_start = len(twists)
        for m in broken:
            scan_pub.publish(m)
        scan_pub.publish(good)
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
        [(launch, ['mode:=follow', 'upside_down:=true', 'mount_yaw_deg:=90', 'laser_frame:=laser'])], None)
    params = {k: v.value for k, v in config.params.items() if k.startswith('/scanpilot/')}
    check(params['/scanpilot/mode'] == 'follow' and params['/scanpilot/upside_down'] is True and
          params['/scanpilot/mount_yaw_deg'] == 90.0 and params['/scanpilot/max_speed'] == 0.5,
          'launch parameters: %s' % params)
    nodes = {n.name: n for n in config.nodes}
    check(sorted(nodes) == ['scanpilot', 'scanpilot_mount'], 'launch nodes: %s' % sorted(nodes))
    words = nodes['scanpilot_mount'].args.split()
    check(len(words) == 8 and words[6:] == ['base_link', 'laser'], 'mount transform: %s' % words)
    yaw, pitch, roll = float(words[3]), float(words[4]), float(words[5])
    check(abs(yaw - math.pi / 2) < 1e-12 and pitch == 0 and abs(roll - math.pi) < 1e-12, 'mount: %s' % words)
    plain = roslaunch.config.load_config_default([(launch, [])], None)
    check([n.name for n in plain.nodes] == ['scanpilot'], 'no transform without laser_frame')

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
        launched = procs.start('roslaunch', ['roslaunch', launch, 'mode:=follow', 'mount_yaw_deg:=90'], env)
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('case', choices=['node', 'launch'])
    ap.add_argument('--node')
    ap.add_argument('--demo')
    ap.add_argument('--bag')
    ap.add_argument('--build')
    ap.add_argument('--cmake', default='cmake')
    ap.add_argument('--work', required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        run_node_case(args) if args.case == 'node' else run_launch_case(args)
    except Failed as e:
        print('FAILED: %s' % e)
        print('(logs in %s)' % args.work)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
