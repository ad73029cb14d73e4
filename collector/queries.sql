-- A line supervisor's questions. Upgrade runs are those with run_kind 'upgrade' or '' (a record of a
-- tool older than the member); check runs change nothing and count only where a query says so.

-- Yield per day and station: upgrade runs, those that ended "ok0", and their share.
SELECT toDate(time) AS day, station, uniqExact(run_id) AS runs, uniqExactIf(run_id, result = 'ok0') AS ok,
       round(ok / runs, 3) AS yield
FROM facup.runs FINAL
WHERE run_kind IN ('upgrade', '')
GROUP BY day, station
ORDER BY day, station;

-- First-pass yield per station and day: each unit (camera_mac) counted once a day, by its first
-- upgrade run of that day, at the station of that run; first_pass: those whose first run ended "ok0".
-- Runs whose camera address is unknown are left out.
-- (argMin of a tuple: a Nullable argument alone would skip the runs where it is NULL.)
SELECT day, first.1 AS station, count() AS units, countIf(first.2 = 'ok0') AS first_pass,
       round(first_pass / units, 3) AS first_pass_yield
FROM (
    SELECT toDate(time) AS day, camera_mac, argMin((station, result), time) AS first
    FROM facup.runs FINAL
    WHERE run_kind IN ('upgrade', '') AND isNotNull(camera_mac)
    GROUP BY day, camera_mac
)
GROUP BY day, station
ORDER BY day, station;

-- Units that failed and were never upgraded later: each unit with an upgrade run that neither
-- ended "ok0" nor found the camera on the target version (outcomes 6 and 20), and no run of either
-- kind after its last such failure that did; with its failures, the last one's time, station and
-- result code, and the version the camera had then. Oldest failure first.
SELECT camera_mac, failures, last_failure, last.1 AS station, last.2 AS result, last.3 AS version_before
FROM (
    SELECT camera_mac, countIf(failed) AS failures, maxIf(time, failed) AS last_failure,
           maxIf(time, settled) AS last_settled, argMaxIf((station, result, version_before), time, failed) AS last
    FROM (
        SELECT camera_mac, time, station, result, version_before,
               (ifNull(result, '') = 'ok0' OR ifNull(outcome, 0) IN (6, 20)) AS settled,
               (run_kind IN ('upgrade', '') AND NOT settled) AS failed
        FROM facup.runs FINAL
        WHERE isNotNull(camera_mac)
    )
    GROUP BY camera_mac
    HAVING failures > 0 AND last_settled < last_failure
)
ORDER BY last_failure, camera_mac;

-- The history of one unit: every run of one camera, newest first, with the station, the kind of
-- run, its result code, the versions and the confirmation. Put the unit's address (lower case, as
-- the run records give it) in place of the one below.
SELECT time, station, run_kind, result, exit_code, model, version_before, version_after,
       `confirm.mode` AS confirm_mode, `confirm.confirmed` AS confirmed, run_id
FROM facup.runs FINAL
WHERE camera_mac = 'ca:7b:cc:57:30:1f'
ORDER BY time DESC, run_id;

-- Failures of upgrade runs by result code and camera model, most frequent first.
SELECT ifNull(result, 'none') AS result_code, ifNull(model, '?') AS camera_model, count() AS runs
FROM facup.runs FINAL
WHERE run_kind IN ('upgrade', '') AND ifNull(result, 'none') != 'ok0'
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
