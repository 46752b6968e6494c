# SPDX-License-Identifier: BSD-3-Clause
# Debian's ROS 1 packages, found once for the node (ros/) and for the host
# program's bag reader (robot-demo --format rosbag), by pkg-config rather
# than the catkin CMake configs, which pull in catkin itself.
#
# Defines, when found: scanpilot_ros_deps (the node's middleware, tf2 and
# diagnostics) and scanpilot_rosbag_deps (the bag storage library), both
# interface targets whose headers count as system headers; SCANPILOT_ROS_FOUND.
set(SCANPILOT_BUILD_ROS AUTO CACHE STRING "Build the ROS 1 node and bag reader: ON, OFF or AUTO (when found)")
set_property(CACHE SCANPILOT_BUILD_ROS PROPERTY STRINGS AUTO ON OFF)
set(SCANPILOT_ROS_FOUND FALSE)
if(SCANPILOT_BUILD_ROS STREQUAL "OFF")
  message(STATUS "ROS 1 node: off (SCANPILOT_BUILD_ROS=OFF)")
  return()
endif()

# The build machine's ROS packages are no use to a cross build, and pkg-config
# would hand them over all the same.
if(CMAKE_CROSSCOMPILING AND SCANPILOT_BUILD_ROS STREQUAL "AUTO")
  message(STATUS "ROS 1 node: not built in a cross build (SCANPILOT_BUILD_ROS=ON to try)")
  return()
endif()

find_package(PkgConfig QUIET)
set(ros_missing "")
set(ros_modules roscpp sensor_msgs geometry_msgs nav_msgs std_msgs console_bridge tf2_ros diagnostic_updater)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(SCANPILOT_ROS QUIET IMPORTED_TARGET ${ros_modules})
endif()
if(NOT SCANPILOT_ROS_FOUND)
  string(REPLACE ";" " " ros_missing "pkg-config modules ${ros_modules}")
endif()
# rosbag_storage's .pc needs a pluginlib.pc that Debian's (ROS 2) pluginlib
# lacks, so that library is found by name.
find_library(SCANPILOT_ROSBAG_STORAGE_LIB rosbag_storage)
find_path(SCANPILOT_ROSBAG_INCLUDE rosbag/view.h)
if(NOT SCANPILOT_ROSBAG_STORAGE_LIB OR NOT SCANPILOT_ROSBAG_INCLUDE)
  list(APPEND ros_missing "rosbag_storage")
endif()
# rosbag/bag.h includes pluginlib, which Debian ships in the ROS 2 layout
# (include/<name>/<name>/...), with the headers it includes in turn.
set(ros_bag_includes ${SCANPILOT_ROSBAG_INCLUDE})
foreach(need pluginlib:class_loader.hpp class_loader:multi_library_class_loader.hpp rcutils:types.h
    rcpputils:shared_library.hpp ament_index_cpp:get_package_prefix.hpp)
  string(REPLACE ":" ";" need ${need})
  list(GET need 0 name)
  list(GET need 1 header)
  find_path(SCANPILOT_INCLUDE_${name} ${name}/${header} PATH_SUFFIXES ${name})
  if(SCANPILOT_INCLUDE_${name})
    list(APPEND ros_bag_includes ${SCANPILOT_INCLUDE_${name}})
  else()
    list(APPEND ros_missing "${name} headers")
  endif()
endforeach()
if(ros_missing)
  set(hint "missing ${ros_missing}; install libroscpp-dev libsensor-msgs-dev libgeometry-msgs-dev libnav-msgs-dev libstd-msgs-dev libtf2-ros-dev libdiagnostic-updater-dev librosbag-storage-dev pkg-config")
  if(SCANPILOT_BUILD_ROS STREQUAL "ON")
    message(FATAL_ERROR "ROS 1 node: ${hint}")
  endif()
  message(STATUS "ROS 1 node: not built (${hint})")
  return()
endif()
message(STATUS "ROS 1 node: built, with roscpp ${SCANPILOT_ROS_roscpp_VERSION}, tf2_ros ${SCANPILOT_ROS_tf2_ros_VERSION} and ${SCANPILOT_ROSBAG_STORAGE_LIB}")
if(SCANPILOT_SANITIZE)
  message(STATUS "ROS 1 node: sanitized; the ROS libraries themselves are not instrumented")
endif()
set(SCANPILOT_ROS_FOUND TRUE)

# Their headers are system headers: our warnings are not theirs.
add_library(scanpilot_ros_deps INTERFACE)
target_link_libraries(scanpilot_ros_deps INTERFACE PkgConfig::SCANPILOT_ROS)
add_library(scanpilot_rosbag_deps INTERFACE)
target_include_directories(scanpilot_rosbag_deps SYSTEM INTERFACE ${ros_bag_includes})
target_link_libraries(scanpilot_rosbag_deps INTERFACE PkgConfig::SCANPILOT_ROS ${SCANPILOT_ROSBAG_STORAGE_LIB})
