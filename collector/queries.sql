-- Yield per day and station: runs, upgrades that ended "ok0", and their share.
SELECT toDate(time) AS day, station, uniqExact(run_id) AS runs, uniqExactIf(run_id, result = 'ok0') AS ok,
       round(ok / runs, 3) AS yield
FROM facup.runs FINAL
GROUP BY day, station
ORDER BY day, station;

-- Failures by result code and camera model, most frequent first.
SELECT ifNull(result, 'none') AS result_code, ifNull(model, '?') AS camera_model, count() AS runs
FROM facup.runs FINAL
WHERE ifNull(result, 'none') != 'ok0'
GROUP BY result_code, camera_model
ORDER BY runs DESC, result_code, camera_model;

-- Median and 95th percentile of the slow stages per station, in seconds.
SELECT station, count() AS runs,
       quantilesExact(0.5, 0.95)(`stages.presence`) AS presence,
       quantilesExact(0.5, 0.95)(`stages.staging`) AS staging,
       quantilesExact(0.5, 0.95)(`stages.channel`) AS channel,
       quantilesExact(0.5, 0.95)(`stages.reply`) AS reply,
       quantilesExact(0.5, 0.95)(`stages.cleanup`) AS cleanup,
       quantilesExact(0.5, 0.95)(`stages.confirm`) AS confirm
FROM facup.runs FINAL
GROUP BY station
ORDER BY station;
