// SPDX-License-Identifier: BSD-3-Clause
// The pictures of a map run: run.svg (the map, the robot's and the person's
// tracks, start, goal and the contact) and run.html (the same map under the
// step view, period by period).
#ifndef SCANPILOT_SIM_RUNS_MAP_PICTURES_H
#define SCANPILOT_SIM_RUNS_MAP_PICTURES_H

#include <memory>
#include <string>

#include "output/output_set.h"
#include "output/pictures.h"
#include "output/viewer/run_html.h"
#include "output/viewer/run_viewer.h"
#include "scansim.h"
#include "sim_runs/map_episode.h"

class MapPictures {
 public:
  MapPictures(const SimMap& map, const MapRunSpec& spec, OutputSet& out, bool html);
  // One period, as the run goes (its step view for run.html).
  void Add(const MapPeriod& p, Pilot& pilot, const std::string& line);
  // Closes run.html and draws run.svg.
  PictureFiles Finish(const MapResult& result);

 private:
  const SimMap& map_;
  const MapRunSpec& spec_;
  std::unique_ptr<RunViewer> viewer_;
  // Each period's view waits for the next, so that the last one can carry
  // the contact that ended the run.
  bool pending_ = false;
  ViewerTick tick_;
};

// run.svg of a map run, on its own for tests.
std::string MapRunSvg(const SimMap& map, const MapRunSpec& spec, const MapResult& result);

#endif
