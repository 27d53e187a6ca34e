-- A read-only account for dashboards and reports over the line's database: the views and
-- nothing else (not the runs' logs, not the tables the stations write). Run it once as the
-- database's owner; choose the password, or use the server's own authentication instead.
CREATE ROLE morlane_reader LOGIN PASSWORD 'change-me';
GRANT USAGE ON SCHEMA morlane TO morlane_reader;
GRANT SELECT ON morlane.v_runs, morlane.v_images, morlane.v_yield_hourly TO morlane_reader;
