-- The table that takes the stations' run records (one JSON object per run, through the HTTP
-- interface in JSONEachRow form). Keyed by run_id: a record delivered twice is one row after a
-- merge, so queries read with FINAL or count uniqExact(run_id). Every member a record may leave
-- null is Nullable (station too: a PC whose name cannot be read sends null); members the table
-- lacks (confirm.versions, confirm.unreachable_seconds) are skipped (input_format_skip_unknown_fields=1
-- in the station's report_url). The stages' seconds and the confirmation arrive as objects and land
-- in the stages.* and confirm.* columns with input_format_import_nested_json=1, also in the
-- report_url; without it the insert still succeeds and those columns stay NULL.
-- camera_mac is the camera's hardware address (null when the station could not read it); run_kind
-- is 'upgrade' or 'check'. A record without run_kind (a tool older than the member) is stored as ''
-- by ClickHouse 18.16, which fills an omitted member with the type's empty value rather than the
-- column's DEFAULT: the queries count '' as 'upgrade'.
-- A table made before station was Nullable takes null names after:
--   ALTER TABLE facup.runs MODIFY COLUMN station Nullable(String);
-- A table made before camera_mac and run_kind takes them (its rows become upgrades of unknown units):
--   ALTER TABLE facup.runs ADD COLUMN camera_mac Nullable(String) AFTER camera_address,
--     ADD COLUMN run_kind String DEFAULT 'upgrade' AFTER mode;
CREATE DATABASE IF NOT EXISTS facup;

CREATE TABLE IF NOT EXISTS facup.runs (
    run_id String,
    time DateTime,
    tool String,
    station Nullable(String),
    mode String,
    run_kind String DEFAULT 'upgrade',
    link Nullable(String),
    pc_address Nullable(String),
    camera_address Nullable(String),
    camera_mac Nullable(String),
    model Nullable(String),
    version_before Nullable(String),
    version_after Nullable(String),
    image Nullable(String),
    image_bytes Nullable(UInt64),
    image_md5 Nullable(String),
    served_bytes Nullable(Int64),
    outcome Nullable(UInt8),
    result Nullable(String),
    exit_code Nullable(Int16),
    interrupted Nullable(String),
    interrupted_stage Nullable(String),
    outbox Nullable(UInt32),
    seconds Float64,
    `stages.guard` Nullable(Float64),
    `stages.link` Nullable(Float64),
    `stages.warning` Nullable(Float64),
    `stages.presence` Nullable(Float64),
    `stages.parse` Nullable(Float64),
    `stages.model` Nullable(Float64),
    `stages.same_version` Nullable(Float64),
    `stages.fits_database` Nullable(Float64),
    `stages.workstation` Nullable(Float64),
    `stages.purge` Nullable(Float64),
    `stages.staging` Nullable(Float64),
    `stages.firewall` Nullable(Float64),
    `stages.file_server` Nullable(Float64),
    `stages.channel` Nullable(Float64),
    `stages.command` Nullable(Float64),
    `stages.spinner` Nullable(Float64),
    `stages.reply` Nullable(Float64),
    `stages.cleanup` Nullable(Float64),
    `stages.confirm` Nullable(Float64),
    `confirm.mode` Nullable(String),
    `confirm.confirmed` Nullable(UInt8),
    `confirm.seconds` Nullable(Float64),
    warnings Array(String)
) ENGINE = ReplacingMergeTree
PARTITION BY toYYYYMM(time)
ORDER BY run_id;
